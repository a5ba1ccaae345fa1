#include "JobRun.h"

#include "FileManager.h"
#include "StdoutCapture.h"
#include "WorkFolders.h"
#include "ZipAction.h"

#include <QPointer>
#include <QTest>

JobRun::JobRun(const Request& request)
{
    const std::string tmpDirectory = WorkFolders::tmpDirectory(FileManager::homeDirectory());
    stagingFolder = WorkFolders::stagingFolder(tmpDirectory);
    outputFolder = WorkFolders::outputFolder(tmpDirectory, WorkFolders::OUTPUT_DIR_NAME);
    {
        StdoutCapture capture;
        QPointer<ZipAction> job = new ZipAction(request.chooser);
        QObject::connect(job, &ZipAction::phaseChanged, job, [this, &request](JobPhase phase) {
            phases.push_back(phase);
            if (request.onPhase)
                request.onPhase(phase);
        }, Qt::DirectConnection);
        QObject::connect(job, &ZipAction::finished, job, [this](const JobOutcome& result) {
            ++finishedCount;
            finished = true;
            outcome = result;
            stagingExistedAtFinish = FileManager::exists(stagingFolder);
        }, Qt::DirectConnection);
        if (request.selectDir)
            job->selectDirAndCreateZip(request.paths, request.destDir, request.isEncrypt, request.password);
        else
            job->createZip(request.paths, request.destDir, request.isEncrypt, request.password);
        (void)QTest::qWaitFor([&] { return finished; }, request.timeoutMs);
        if (finished)
            (void)QTest::qWaitFor([&] { return job.isNull(); }, 5000);
        deleted = job.isNull();
        // A job that never ends must not run on into the next test.
        delete job.data();
        output = capture.text();
        lines = capture.lines();
    }
}

std::vector<std::string> JobRun::applicationLines() const
{
    std::vector<std::string> result;
    for (const std::string& line : lines) {
        if (line.empty() || line.back() != '\r')
            result.push_back(line);
    }
    return result;
}

std::string JobRun::report() const
{
    std::string text = "finished " + std::to_string(finishedCount) + " time(s), outcome kind "
        + std::to_string(static_cast<int>(outcome.kind)) + " failed in phase " + std::to_string(static_cast<int>(outcome.failedIn)) + " description '"
        + outcome.description + "' path '" + outcome.archivePath + "'\noutput:\n";
    return text + output;
}

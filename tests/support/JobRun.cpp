#include "JobRun.h"

#include "StdoutCapture.h"
#include "ZipAction.h"

#include <QPointer>
#include <QTest>

#include <algorithm>

JobRun JobRun::of(const std::vector<std::string>& paths, const std::string& destDir,
                  const std::optional<std::string>& password, const std::function<void(JobPhase)>& onPhase,
                  bool nameAfterItems)
{
    JobRun run;
    StdoutCapture capture;
    QPointer<ZipAction> job = new ZipAction;
    if (onPhase)
        QObject::connect(job, &ZipAction::phaseChanged, job, onPhase);
    QObject::connect(job, &ZipAction::finished, job, [&run](const JobOutcome& outcome) { run.outcome = outcome; });
    job->setNameAfterItems(nameAfterItems);
    job->createZip(paths, destDir, password.has_value(), password.value_or(""));
    run.ended = QTest::qWaitFor([&] { return job.isNull(); }, 120000);
    // A job that never ends must not run on into the next test.
    delete job.data();
    run.lines = capture.lines();
    return run;
}

bool JobRun::logged(const std::string& start) const
{
    return std::ranges::any_of(lines, [&](const std::string& line) { return line.starts_with(start); });
}

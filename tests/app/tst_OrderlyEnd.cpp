// The real program, ended by a signal in the middle of a job, ends as
// quitting does: at once, without asking, with every program of the job
// (and every program those started) ended, its staging folder gone and
// nothing delivered. Stand-in programs hold the job at the step in question.
#include "AppFolders.h"
#include "AppProcess.h"
#include "TaggedProcesses.h"

#include <QTest>

#include <csignal>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

const int kStartMilliseconds = 20000;
// Quitting ends the job's programs and removes its folder: a few seconds.
const int kEndMilliseconds = 10000;

// The folder of the stand-in that holds a job at step.
std::string standInsFor(const QString& step)
{
    const char* folder = step == "writing" ? "slow-writer" : step == "encrypting" ? "slow-encryption" : "slow-move";
    return std::string(QUILLMERE_STANDINS) + "/" + folder;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += name + " ";
    return text;
}

// What the job left in the work folder besides the instance's lock file.
std::vector<std::string> leftovers(const std::string& workFolder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(workFolder, error)) {
        if (entry.path().filename() != "instance.lock")
            names.push_back(entry.path().filename().string());
    }
    return names;
}

} // namespace

class TestOrderlyEnd : public QObject {
    Q_OBJECT

private slots:
    void aSignalEndsTheJobAndItsPrograms_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("step");
        // Writing: the writer's shell, the writer and a helper the writer
        // started in a session of its own.
        QTest::newRow("SIGTERM while writing") << int(SIGTERM) << "writing";
        QTest::newRow("SIGINT while writing") << int(SIGINT) << "writing";
        QTest::newRow("SIGHUP while writing") << int(SIGHUP) << "writing";
        // Encrypting: the real writer has made the archive; expect and the
        // zipcloak it started in a session of its own are at work.
        QTest::newRow("SIGTERM while encrypting") << int(SIGTERM) << "encrypting";
        // Moving: the real writer and zipcloak are done; expect and the mv
        // it started are at work.
        QTest::newRow("SIGTERM while moving") << int(SIGTERM) << "moving";
    }
    void aSignalEndsTheJobAndItsPrograms()
    {
        QFETCH(int, signalNumber);
        QFETCH(QString, step);
        const AppFolders folders;
        folders.storeOptions(step != "writing", "secret12");
        const std::string item = folders.writeItem("report.txt", "report\n");
        const AppProcess::Setting setting = folders.setting(standInsFor(step));
        const TaggedProcesses programs(setting.tag);
        AppProcess app(QUILLMERE_BINARY, setting);

        app.start(folders.items(), {item});
        QTRY_VERIFY_WITH_TIMEOUT(fs::exists(folders.marks() + "/" + step.toStdString()), kStartMilliseconds);
        // The scan sees the job's programs while they run.
        QVERIFY(!programs.living().empty());
        app.sendSignal(signalNumber);

        QVERIFY2(app.waitForEnd(kEndMilliseconds), app.output().c_str());
        QVERIFY2(app.endedNormally(), app.output().c_str());
        QCOMPARE(app.exitCode(), 0);
        QTRY_VERIFY2(programs.living().empty(), ("still running: " + joined(programs.names())).c_str());
        QVERIFY(!fs::exists(folders.items() + "/archive.zip"));
        const std::vector<std::string> left = leftovers(folders.workFolder());
        QVERIFY2(left.empty(), ("left behind: " + joined(left)).c_str());
    }

    void aSignalWithoutAJobEndsTheProgram()
    {
        const AppFolders folders;
        AppProcess app(QUILLMERE_BINARY, folders.setting());
        app.start(folders.items(), {});
        // The instance listens once it is ready for work.
        QTRY_VERIFY_WITH_TIMEOUT(folders.channelIsOpen(), kStartMilliseconds);
        app.sendSignal(SIGTERM);
        QVERIFY2(app.waitForEnd(kEndMilliseconds), app.output().c_str());
        QVERIFY2(app.endedNormally(), app.output().c_str());
        QVERIFY2(app.output().find("ending on signal 15") != std::string::npos, app.output().c_str());
        // Its socket goes with it.
        QVERIFY(!folders.channelIsOpen());
    }
};

QTEST_GUILESS_MAIN(TestOrderlyEnd)
#include "tst_OrderlyEnd.moc"

#include "ChildProcess.h"
#include "ScratchFolder.h"

#include <QSignalSpy>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sys/types.h>
#include <vector>

namespace {

QByteArray b(const std::string& text)
{
    return QByteArray::fromStdString(text);
}

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Alive and not merely waiting to be reaped: in a container nobody may reap
// an orphan that was killed.
bool running(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return false;
    const std::string stat = readWhole("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

std::vector<pid_t> readPids(const std::string& path)
{
    std::vector<pid_t> pids;
    std::ifstream in(path);
    for (long pid = 0; in >> pid;)
        pids.push_back(static_cast<pid_t>(pid));
    return pids;
}

} // namespace

class TestChildProcess : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reportsMissingProgram_data();
    void reportsMissingProgram();
    void reportsExitStatus_data();
    void reportsExitStatus();
    void reportsDeathBySignal();
    void terminateEndsChild();
    void destructionEndsEverythingStarted();
    void passesArgumentsUnchanged_data();
    void passesArgumentsUnchanged();
    void sharesEnvironment();

private:
    std::unique_ptr<ScratchFolder> m_dir;
    std::vector<pid_t> m_started;
};

void TestChildProcess::init()
{
    m_dir = std::make_unique<ScratchFolder>();
    QVERIFY(m_dir->isValid());
}

void TestChildProcess::cleanup()
{
    // Sleepers a failed check left behind are ours to end.
    for (const pid_t pid : m_started) {
        if (running(pid))
            ::kill(pid, SIGKILL);
    }
    m_started.clear();
    m_dir.reset();
}

void TestChildProcess::reportsMissingProgram_data()
{
    QTest::addColumn<QByteArray>("program");
    QTest::newRow("absent path") << QByteArray("/nonexistent/quillmere-no-such-program");
    QTest::newRow("not executable") << QByteArray("/etc/hostname");
    QTest::newRow("a folder") << QByteArray("/tmp");
}

void TestChildProcess::reportsMissingProgram()
{
    QFETCH(QByteArray, program);
    ChildProcess child;
    const auto error = child.start(program.toStdString(), {"--version"});
    QVERIFY(error);
    QVERIFY2(error->find(program.toStdString()) != std::string::npos, error->c_str());
    QVERIFY(child.hasEnded());
    QVERIFY(!child.succeeded());
    QCOMPARE(child.exitCode(), -1);
    QCOMPARE(b(child.exitDescription()), b("could not be started: " + *error));
}

void TestChildProcess::reportsExitStatus_data()
{
    QTest::addColumn<int>("status");
    for (const int status : {0, 1, 2, 3, 42, 127, 255})
        QTest::addRow("%d", status) << status;
}

void TestChildProcess::reportsExitStatus()
{
    QFETCH(int, status);
    ChildProcess child;
    QSignalSpy ended(&child, &ChildProcess::ended);
    QVERIFY(!child.start("/bin/sh", {"-c", "exit " + std::to_string(status)}));
    QTRY_COMPARE(ended.count(), 1);
    QVERIFY(child.hasEnded());
    QCOMPARE(child.exitCode(), status);
    QCOMPARE(child.succeeded(), status == 0);
    QCOMPARE(b(child.exitDescription()), b("exit status " + std::to_string(status)));
}

// The header promises the signal's number ("killed by signal 9"): the
// writer's log line is the user's only clue when a job dies.
void TestChildProcess::reportsDeathBySignal()
{
    ChildProcess child;
    QVERIFY(!child.start("/bin/sh", {"-c", "kill -9 $$"}));
    QTRY_VERIFY(child.hasEnded());
    QCOMPARE(child.exitCode(), -1);
    QVERIFY(!child.succeeded());
    QCOMPARE(b(child.exitDescription()), QByteArray("killed by signal 9"));
}

void TestChildProcess::terminateEndsChild()
{
    ChildProcess child;
    QSignalSpy ended(&child, &ChildProcess::ended);
    QVERIFY(!child.start("/bin/sleep", {"100"}));
    QVERIFY(!child.hasEnded());
    QCOMPARE(b(child.exitDescription()), QByteArray("still running"));
    child.terminate();
    QTRY_VERIFY(child.hasEnded());
    QCOMPARE(ended.count(), 1);
    QVERIFY(!child.succeeded());
    QCOMPARE(child.exitCode(), -1);
}

// The writer runs php below a shell: giving the job up must end both, not
// leave the grandchild writing into the staging folder.
void TestChildProcess::destructionEndsEverythingStarted()
{
    const std::string pidFile = m_dir->path() + "/pids";
    const std::string script = "sleep 100 & echo $! > \"$0.part\"; echo $$ >> \"$0.part\"; "
                               "mv \"$0.part\" \"$0\"; sleep 100";
    auto child = std::make_unique<ChildProcess>();
    QVERIFY(!child->start("/bin/sh", {"-c", script, pidFile}));
    QTRY_COMPARE(readPids(pidFile).size(), size_t(2));
    m_started = readPids(pidFile);
    for (const pid_t pid : m_started)
        QVERIFY2(running(pid), std::to_string(pid).c_str());

    child.reset();

    for (const pid_t pid : m_started)
        QTRY_VERIFY2(!running(pid), std::to_string(pid).c_str());
}

void TestChildProcess::passesArgumentsUnchanged_data()
{
    QTest::addColumn<QByteArray>("argument");
    QTest::newRow("spaces and quotes") << QByteArray("a 'b' \"c\" $HOME `x` ; | &");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("japanese") << QByteArray("/home/u/\xE8\xA6\x8B\xE7\xA9\x8D/\xC2\xA5.txt");
    QTest::newRow("newline") << QByteArray("one\ntwo");
    // Linux names are bytes: a folder whose name is not UTF-8 must reach
    // the child as it is, or the writer looks for a folder that is not there.
    QTest::newRow("not UTF-8") << QByteArray("/home/\xff\xfe/\xc0x");
}

void TestChildProcess::passesArgumentsUnchanged()
{
    QFETCH(QByteArray, argument);
    const std::string out = m_dir->path() + "/out";
    ChildProcess child;
    QVERIFY(!child.start("/bin/sh", {"-c", "printf %s \"$1\" > \"$0\"", out, argument.toStdString()}));
    QTRY_VERIFY(child.hasEnded());
    QVERIFY(child.succeeded());
    QCOMPARE(b(readWhole(out)), argument);
}

void TestChildProcess::sharesEnvironment()
{
    ::setenv("QUILLMERE_CHILD_CHECK", "value 1", 1);
    ChildProcess child;
    QVERIFY(!child.start("/bin/sh", {"-c", "test \"$QUILLMERE_CHILD_CHECK\" = 'value 1'"}));
    QTRY_VERIFY(child.hasEnded());
    ::unsetenv("QUILLMERE_CHILD_CHECK");
    QCOMPARE(child.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestChildProcess)
#include "tst_ChildProcess.moc"

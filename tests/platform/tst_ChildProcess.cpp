// A child process gets its arguments and environment as bytes, reports how
// it ended, and takes everything it started with it when it ends or is
// ended, even what runs in a session of its own.
#include "ChildProcess.h"
#include "StdoutCapture.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <memory>

namespace {

// Alive, and not merely waiting for its parent to reap it.
bool isRunning(const QByteArray& pid)
{
    QFile stat("/proc/" + QString::fromLatin1(pid) + "/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    return !text.isEmpty() && !text.contains(") Z ");
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// A shell that starts a sleep in a session of its own, names it in
// pidFile, and then does what tail says.
std::vector<std::string> shellWithOrphanable(const QString& pidFile, const std::string& tail)
{
    return {"-c", "setsid sleep 600 & echo $! > \"$0.part\" && mv \"$0.part\" \"$0\"; " + tail,
            QFile::encodeName(pidFile).toStdString()};
}

} // namespace

class TestChildProcess : public QObject {
    Q_OBJECT

private slots:
    void passesArgumentsAndEnvironmentAsBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        // Linux names are bytes: a folder whose name is not UTF-8 must reach
        // the child as it is.
        QTest::newRow("not UTF-8") << QByteArray("/home/\xff\xfe/\xc0x");
        QTest::newRow("shell characters, Japanese, newline")
            << QByteArray("a 'b' \"c\" $HOME `x` ; | & 見積/¥.txt\nnext");
    }
    // The child writes to the application's standard output.
    void passesArgumentsAndEnvironmentAsBytes()
    {
        QFETCH(QByteArray, bytes);
        const StdoutCapture capture;
        ChildProcess child;
        const std::string value = bytes.toStdString();
        QVERIFY(!child.start("/bin/sh", {"-c", "printf '%s|%s' \"$0\" \"$QUILLMERE_VALUE\"", value},
                             {"QUILLMERE_VALUE=" + value}));
        QTRY_VERIFY(child.hasEnded());
        QCOMPARE(QByteArray::fromStdString(capture.text()), bytes + "|" + bytes);
    }

    // The program gets the standard streams and nothing else of the
    // application's: no descriptor it opened, close-on-exec or not.
    void inheritsOnlyTheStandardStreams()
    {
        const int leaked = ::open("/etc/hostname", O_RDONLY);
        QVERIFY(leaked > 2);
        QByteArray descriptors;
        {
            const StdoutCapture capture;
            ChildProcess child;
            QVERIFY(!child.start("/bin/sh", {"-c", "for fd in 0 1 2 $0; do [ -e /proc/$$/fd/$fd ] && printf '%s ' $fd; done",
                                             std::to_string(leaked)}));
            QTRY_VERIFY(child.hasEnded());
            descriptors = QByteArray::fromStdString(capture.text()).trimmed();
        }
        ::close(leaked);
        QCOMPARE(descriptors, QByteArray("0 1 2"));
    }

    // Its output taken, the child's standard output and error come as
    // lines, all of them before ended(), with no line end, and none of it
    // reaches the application's own standard output.
    void handsOnOutputLines()
    {
        const StdoutCapture capture;
        ChildProcess child;
        std::vector<std::string> lines;
        size_t linesAtEnd = 0;
        child.passOutputLinesTo([&](const std::string& line) { lines.push_back(line); });
        connect(&child, &ChildProcess::ended, this, [&] { linesAtEnd = lines.size(); });
        QVERIFY(!child.start("/bin/sh", {"-c", "printf 'one\\r\\ntwo\\n\\n'; printf 'error\\n' >&2; printf 'last'"}));
        QTRY_VERIFY(child.hasEnded());
        QCOMPARE(lines, (std::vector<std::string>{"one", "two", "", "error", "last"}));
        QCOMPARE(linesAtEnd, lines.size());
        QCOMPARE(capture.text(), std::string());
    }

    void reportsHowItEnded_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("description");
        QTest::newRow("success") << "exit 0" << 0 << QByteArray("exit status 0");
        QTest::newRow("failure") << "exit 3" << 3 << QByteArray("exit status 3");
        QTest::newRow("killed") << "kill -9 $$" << -1 << QByteArray("killed by signal 9");
        // The signal the supervisor itself takes as the word to end.
        QTest::newRow("terminated") << "kill -TERM $$" << -1 << QByteArray("killed by signal 15");
        // One whose default action dumps core.
        QTest::newRow("crashed") << "kill -SEGV $$" << -1 << QByteArray("killed by signal 11");
    }
    void reportsHowItEnded()
    {
        QFETCH(QString, script);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, description);
        ChildProcess child;
        QSignalSpy ended(&child, &ChildProcess::ended);
        QVERIFY(!child.start("/bin/sh", {"-c", script.toStdString()}));
        QTRY_COMPARE(ended.count(), 1);
        QCOMPARE(child.exitCode(), exitCode);
        QCOMPARE(child.succeeded(), exitCode == 0);
        QCOMPARE(QByteArray::fromStdString(child.exitDescription()), description);
    }

    void reportsAProgramThatCannotStart_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("missing path") << "/nonexistent/quillmere-no-such-program";
        QTest::newRow("missing from PATH") << "quillmere-no-such-program";
        QTest::newRow("not executable") << "/etc/passwd";
        QTest::newRow("a folder") << "/tmp";
    }
    void reportsAProgramThatCannotStart()
    {
        QFETCH(QString, program);
        ChildProcess child;
        QSignalSpy ended(&child, &ChildProcess::ended);
        const auto error = child.start(program.toStdString(), {});
        QVERIFY(error.has_value());
        QVERIFY(error->ends_with(": " + program.toStdString()));
        QVERIFY(child.hasEnded());
        QVERIFY(!child.succeeded());
        QCOMPARE(child.exitCode(), -1);
        QCOMPARE(child.exitDescription(), "could not be started: " + *error);
        QTest::qWait(0);
        QCOMPARE(ended.count(), 0);
    }

    void endingEndsEverythingItStarted_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("terminate") << false;
        // The way a job gives its programs up.
        QTest::newRow("destroy") << true;
    }
    // sleep runs in a session of its own, out of reach of the shell's
    // process group, as expect's programs do.
    void endingEndsEverythingItStarted()
    {
        QFETCH(bool, destroy);
        const QTemporaryDir folder;
        const QString pidFile = folder.filePath("orphanable");
        auto child = std::make_unique<ChildProcess>();
        QSignalSpy ended(child.get(), &ChildProcess::ended);
        QVERIFY(!child->start("/bin/sh", shellWithOrphanable(pidFile, "echo $$ > \"$0.shell\"; wait")));
        QTRY_VERIFY(QFile::exists(pidFile));
        QTRY_VERIFY(QFile::exists(pidFile + ".shell"));
        const QByteArray orphanable = contentOf(pidFile);
        const QByteArray shell = contentOf(pidFile + ".shell");
        QVERIFY(isRunning(orphanable));
        QVERIFY(isRunning(shell));

        if (destroy) {
            child.reset();
        } else {
            child->terminate();
            QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 2000);
            QCOMPARE(child->exitDescription(), "killed by signal 9");
        }
        QTRY_VERIFY_WITH_TIMEOUT(!isRunning(orphanable) && !isRunning(shell), 2000);
    }

    // Killed outright, the supervisor cannot end the program's tree: what
    // the program started goes all the same.
    void aKilledSupervisorLeavesNothingRunning()
    {
        const QTemporaryDir folder;
        const QString pidFile = folder.filePath("child");
        ChildProcess child;
        QSignalSpy ended(&child, &ChildProcess::ended);
        QVERIFY(!child.start("/bin/sh", {"-c", "sleep 600 & echo $! > \"$0.part\" && mv \"$0.part\" \"$0\"; "
                                               "echo $PPID > \"$0.supervisor\"; wait",
                                         QFile::encodeName(pidFile).toStdString()}));
        QTRY_VERIFY(QFile::exists(pidFile));
        QTRY_VERIFY(!contentOf(pidFile + ".supervisor").isEmpty());
        const QByteArray sleeper = contentOf(pidFile);
        QVERIFY(isRunning(sleeper));
        QCOMPARE(::kill(contentOf(pidFile + ".supervisor").toInt(), SIGKILL), 0);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!isRunning(sleeper), 2000);
    }

    // What a program leaves running when it ends does not outlive it.
    void whatTheProgramLeavesBehindEndsWithIt()
    {
        const QTemporaryDir folder;
        const QString pidFile = folder.filePath("orphanable");
        ChildProcess child;
        QVERIFY(!child.start("/bin/sh", shellWithOrphanable(pidFile, "exit 4")));
        QTRY_VERIFY(child.hasEnded());
        QCOMPARE(child.exitCode(), 4);
        const QByteArray orphanable = contentOf(pidFile);
        QVERIFY(!orphanable.isEmpty());
        QVERIFY(!isRunning(orphanable));
    }

    // The bytes read count over the whole tree, down to a process in a
    // session of its own: the shell's subshell reads 8 MB from head, which
    // read them before, and then waits. head's reads stay counted in the
    // subshell that reaped it.
    void countsTheBytesTheTreeHasRead()
    {
        const QTemporaryDir folder;
        const QString ready = folder.filePath("ready");
        ChildProcess child;
        QCOMPARE(child.bytesRead(), uint64_t(0));
        QVERIFY(!child.start("/bin/sh", {"-c",
                                         "setsid sh -c 'x=$(head -c 8000000 /dev/zero); : > \"$0\"; exec sleep 600' "
                                         "\"$0\" & wait",
                                         QFile::encodeName(ready).toStdString()}));
        QTRY_VERIFY(QFile::exists(ready));
        const uint64_t bytes = child.bytesRead();
        QVERIFY2(bytes >= 16000000 && bytes < 17000000, std::to_string(bytes).c_str());
        child.terminate();
        QTRY_VERIFY(child.hasEnded());
        QCOMPARE(child.bytesRead(), uint64_t(0));
    }

    // Processes end between the listing of a tree and the reading of their
    // files: the count goes on, what is gone counts nothing, nothing throws.
    void bytesReadSurvivesProcessesEndingWhileItLooks()
    {
        ChildProcess child;
        QVERIFY(!child.start("/bin/sh", {"-c", "i=0; while [ $i -lt 20000 ]; do /bin/true & /bin/true & /bin/true; "
                                               "wait; i=$((i + 1)); done"}));
        uint64_t largest = 0;
        for (int call = 0; call < 4000; ++call) {
            uint64_t bytes = 0;
            QVERIFY_THROWS_NO_EXCEPTION(bytes = child.bytesRead());
            // A few /bin/true at a time have each read a few kilobytes: a
            // count far beyond is one read wrongly, not a busy machine.
            QVERIFY2(bytes < 64000000, std::to_string(bytes).c_str());
            largest = std::max(largest, bytes);
        }
        QVERIFY(largest > 0);
        child.terminate();
        QTRY_VERIFY(child.hasEnded());
    }
};

QTEST_GUILESS_MAIN(TestChildProcess)
#include "tst_ChildProcess.moc"

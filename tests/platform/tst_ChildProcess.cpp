// A child process gets its arguments and environment as bytes, reports how
// it ended, and takes everything it started with it when it ends or is
// ended, even what runs in a session of its own.
#include "ChildProcess.h"
#include "StdoutCapture.h"
#include "SyscallRefusal.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/syscall.h>

namespace {

// Alive, and not merely waiting for its parent to reap it.
bool isRunning(const QByteArray& pid)
{
    QFile stat("/proc/" + QString::fromLatin1(pid) + "/stat");
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    return !text.isEmpty() && !text.contains(") Z ");
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
    // The child writes to the application's standard output, and gets the
    // standard streams and nothing else of the application's: no
    // descriptor it opened, close-on-exec or not.
    void passesArgumentsAndEnvironmentAsBytes()
    {
        QFETCH(QByteArray, bytes);
        const int leaked = ::open("/etc/hostname", O_RDONLY);
        QVERIFY(leaked > 2);
        QByteArray output;
        {
            const StdoutCapture capture;
            ChildProcess child;
            const std::string value = bytes.toStdString();
            QVERIFY(!child.start("/bin/sh", {"-c", "printf '%s|%s|' \"$0\" \"$QUILLMERE_VALUE\"; "
                                                   "for fd in 0 1 2 $1; do [ -e /proc/$$/fd/$fd ] && printf '%s ' $fd; done",
                                             value, std::to_string(leaked)},
                                 {"QUILLMERE_VALUE=" + value}));
            QTRY_VERIFY(child.hasEnded());
            output = QByteArray::fromStdString(capture.text());
        }
        ::close(leaked);
        QCOMPARE(output, bytes + "|" + bytes + "|0 1 2 ");
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

    // Input given later reaches the child whole and then ends, whenever it
    // is given: while the child waits for it, or once the child has gone,
    // which is no signal to the application (a test leaves SIGPIPE at its
    // default action, which would end it). The child does not read the
    // application's own standard input meanwhile.
    void takesInputGivenLater_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<QStringList>("output");
        QTest::newRow("read after start") << "cat; echo end" << true << QStringList{"one", "two", "end"};
        QTest::newRow("ended before it is given") << "exit 4" << false << QStringList();
        // More than the socket holds is given to it: the child's end closes
        // while it waits.
        QTest::newRow("input closed unread") << "exec 0<&-; echo end" << false << QStringList{"end"};
    }
    void takesInputGivenLater()
    {
        QFETCH(QString, script);
        QFETCH(bool, sent);
        QFETCH(QStringList, output);
        ChildProcess child;
        QStringList lines;
        child.passOutputLinesTo([&](const std::string& line) { lines << QString::fromStdString(line); });
        child.takeInputLater();
        QVERIFY(!child.start("/bin/sh", {"-c", script.toStdString()}));
        if (script.startsWith("exit"))
            QTRY_VERIFY(child.hasEnded());
        const std::string input = sent ? "one\ntwo\n" : std::string(8 << 20, 'x');
        QCOMPARE(child.sendInput(input), sent);
        QTRY_VERIFY(child.hasEnded());
        QCOMPARE(lines, output);
        // Given once: the input has ended.
        QVERIFY(!child.sendInput("again"));
    }

    // Without takeInputLater there is no input to give.
    void givesNoInputUnasked()
    {
        ChildProcess child;
        QVERIFY(!child.start("/bin/sh", {"-c", "exit 0"}));
        QVERIFY(!child.sendInput("x"));
        QTRY_VERIFY(child.hasEnded());
    }

    // Where no stream of its own can be made for its input, the child is
    // not started: it would read the application's instead.
    void startsNoChildWithoutItsOwnInput()
    {
        const std::optional<std::string> answer = SyscallRefusal::run({{SYS_socketpair, EMFILE}}, [] {
            ChildProcess child;
            child.takeInputLater();
            const std::optional<std::string> failure = child.start("/bin/sh", {"-c", "cat"});
            return (failure ? "refused: " + *failure : std::string("started"))
                + (child.startHitSystemLimit() ? ", the system's limits" : "");
        });
        QCOMPARE(answer.value_or("no answer"),
                 std::string("refused: socketpair: ") + std::strerror(EMFILE) + ": /bin/sh, the system's limits");
    }

    void reportsHowItEnded_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("description"); // "" when it cannot start
        QTest::newRow("success") << "/bin/sh" << "exit 0" << 0 << QByteArray("exited with status 0");
        QTest::newRow("failure") << "/bin/sh" << "exit 3" << 3 << QByteArray("exited with status 3");
        QTest::newRow("killed") << "/bin/sh" << "kill -9 $$" << -1 << QByteArray("was killed by signal 9");
        // The signal the supervisor itself takes as the word to end.
        QTest::newRow("terminated") << "/bin/sh" << "kill -TERM $$" << -1 << QByteArray("was killed by signal 15");
        // One whose default action dumps core.
        QTest::newRow("crashed") << "/bin/sh" << "kill -SEGV $$" << -1 << QByteArray("was killed by signal 11");
        // These end at once, with no ended() to come.
        QTest::newRow("missing path") << "/nonexistent/quillmere-no-such-program" << "" << -1 << QByteArray();
        QTest::newRow("missing from PATH") << "quillmere-no-such-program" << "" << -1 << QByteArray();
        QTest::newRow("not executable") << "/etc/passwd" << "" << -1 << QByteArray();
        QTest::newRow("a folder") << "/tmp" << "" << -1 << QByteArray();
    }
    void reportsHowItEnded()
    {
        QFETCH(QString, program);
        QFETCH(QString, script);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, description);
        ChildProcess child;
        QSignalSpy ended(&child, &ChildProcess::ended);
        const auto error = child.start(program.toStdString(),
                                       script.isEmpty() ? std::vector<std::string>() : std::vector<std::string>{"-c", script.toStdString()});
        if (description.isEmpty()) {
            QVERIFY(error.has_value());
            QVERIFY(error->ends_with(": " + program.toStdString()));
            QVERIFY(child.hasEnded());
            description = QByteArray::fromStdString("could not be started (" + *error + ")");
            QTest::qWait(0);
            QCOMPARE(ended.count(), 0);
        } else {
            QVERIFY(!error);
            QTRY_COMPARE(ended.count(), 1);
        }
        QCOMPARE(child.exitCode(), exitCode);
        QCOMPARE(child.succeeded(), exitCode == 0);
        QCOMPARE(QByteArray::fromStdString(child.exitDescription()), description);
    }

    void endingEndsEverythingItStarted_data()
    {
        QTest::addColumn<QString>("end");
        QTest::newRow("terminate") << "terminate";
        // The way a job gives its programs up.
        QTest::newRow("destroy") << "destroy";
        // Killed outright, the supervisor cannot end the program's tree:
        // what the program started goes all the same.
        QTest::newRow("the supervisor killed") << "kill supervisor";
        // What a program leaves running when it ends does not outlive it.
        QTest::newRow("the program ends by itself") << "exit";
    }
    // One sleep runs in a session of its own, out of reach of the shell's
    // process group, as expect's programs do (but where the supervisor is
    // killed); another in the shell's group.
    void endingEndsEverythingItStarted()
    {
        QFETCH(QString, end);
        const QTemporaryDir folder;
        const QString pids = folder.filePath("pids");
        auto child = std::make_unique<ChildProcess>();
        QSignalSpy ended(child.get(), &ChildProcess::ended);
        const std::string then = end == "exit" ? "exit 4" : "wait";
        // Killed, the supervisor reaches no further than the program's group.
        const std::string session = end == "kill supervisor" ? "" : "setsid ";
        QVERIFY(!child->start("/bin/sh", {"-c", session + "sleep 600 & s=$!; sleep 600 & "
                                                "echo $s $! $$ $PPID > \"$0.part\" && mv \"$0.part\" \"$0\"; " + then,
                                          QFile::encodeName(pids).toStdString()}));
        QTRY_VERIFY(QFile::exists(pids));
        QFile file(pids);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> processes = file.readAll().trimmed().split(' ');
        QCOMPARE(processes.size(), 4); // the two sleeps, the shell, the supervisor
        const QByteArray supervisor = processes.takeLast();
        if (end != "exit")
            QVERIFY(std::all_of(processes.begin(), processes.end(), isRunning));

        if (end == "destroy") {
            child.reset();
        } else if (end == "terminate") {
            child->terminate();
            QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 2000);
            QCOMPARE(child->exitDescription(), "was killed by signal 9");
        } else if (end == "kill supervisor") {
            QCOMPARE(::kill(supervisor.toInt(), SIGKILL), 0);
            QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 5000);
        } else {
            QTRY_VERIFY(child->hasEnded());
            QCOMPARE(child->exitCode(), 4);
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::none_of(processes.begin(), processes.end(), isRunning), 2000);
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

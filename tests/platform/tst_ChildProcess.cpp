#include "ChildProcess.h"
#include "Log.h"
#include "StdoutCapture.h"

#include <QSignalSpy>
#include <QtTest>

#include <thread>

// Alive and not merely waiting to be reaped: in a container nobody may reap
// an orphan that was killed.
static bool running(pid_t pid)
{
    QFile stat(QString("/proc/%1/stat").arg(pid));
    return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
}

// Child processes, and the log that shares their standard output.
class TestChildProcess : public QObject {
    Q_OBJECT

private slots:
    void reportsStartFailure() {
        for (const std::string program : {"/nonexistent/quillmere-no-such-program", "/etc/passwd"}) {
            ChildProcess child;
            const auto error = child.start(program, {});
            QVERIFY(error && error->find(program) != std::string::npos && child.hasEnded() && !child.succeeded() && child.exitCode() == -1);
            QCOMPARE(QByteArray::fromStdString(child.exitDescription()), QByteArray::fromStdString("could not be started: " + *error));
        }
    }

    void reportsHowItEnded() {
        for (const auto& [script, code, description] : {std::tuple {"exit 0", 0, "exit status 0"}, {"exit 3", 3, "exit status 3"}, {"kill -9 $$", -1, "killed by signal 9"}}) {
            ChildProcess child;
            QSignalSpy ended(&child, &ChildProcess::ended);
            QVERIFY(!child.start("/bin/sh", {"-c", script}));
            QTRY_COMPARE(ended.count(), 1);
            QVERIFY(child.exitCode() == code && child.succeeded() == (code == 0));
            QCOMPARE(QByteArray::fromStdString(child.exitDescription()), description);
        }
    }

    // The writer runs php below a shell, and expect starts its programs in
    // sessions of their own: giving the job up, or the child with it, must end
    // them all, not leave a grandchild writing into the staging folder. (Their
    // output goes to the capture, so strays a failed check leaves cannot hold
    // the test run's output open.)
    void endsEverythingItStarted() {
        for (const bool destroy : {false, true}) {
            StdoutCapture capture;
            auto child = std::make_unique<ChildProcess>();
            QVERIFY(!child->start("/bin/sh", {"-c", "setsid sleep 100 & echo $! $$; sleep 100"}));
            QTRY_COMPARE(capture.lines().size(), size_t(1));
            const QList<QByteArray> pids = QByteArray::fromStdString(capture.lines()[0]).split(' ');
            QVERIFY(pids.size() == 2 && running(pids[0].toInt()) && running(pids[1].toInt()));
            destroy ? child.reset() : child->terminate();
            QTRY_VERIFY(!running(pids[0].toInt()) && !running(pids[1].toInt()) && (destroy || child->hasEnded()));
        }
    }

    void passesBytesBetweenLogLines_data() {
        QTest::addColumn<QByteArray>("bytes");
        // Linux names are bytes: a folder whose name is not UTF-8 must reach
        // the child, and the log, as it is.
        QTest::newRow("not UTF-8") << QByteArray("/home/\xff\xfe/\xc0x");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("shell characters, japanese, newline") << QByteArray("a 'b' \"c\" $HOME `x` ; | & 見積/¥.txt\nnext");
        QTest::newRow("100 kB") << QByteArray(100000, 'x');
    }
    // The child gets its argument's very bytes; a log line is the text and
    // one newline, written at once: what was logged before the child started
    // comes before the child's output.
    void passesBytesBetweenLogLines() {
        QFETCH(QByteArray, bytes);
        StdoutCapture capture;
        Log::line(bytes.toStdString());
        ChildProcess child;
        QVERIFY(!child.start("/bin/sh", {"-c", "printf %s \"$0\"", bytes.toStdString()}));
        QTRY_VERIFY(child.hasEnded());
        QVERIFY(child.succeeded());
        Log::line("end");
        QCOMPARE(QByteArray::fromStdString(capture.text()), bytes + "\n" + bytes + "end\n");
    }

    // The job logs from a worker thread while the window logs too: no line
    // may be split by another. 3000 whole lines of each, and nothing else.
    void logLinesFromThreadsStayWhole() {
        StdoutCapture capture;
        const auto writer = [](char c) { for (int i = 0; i < 3000; ++i) Log::line(std::string(40, c)); };
        std::thread one(writer, 'a'), two(writer, 'b');
        one.join(), two.join();
        const QByteArray text = QByteArray::fromStdString(capture.text());
        QCOMPARE(text.size(), 6000 * 41);
        QCOMPARE(text.count(QByteArray(40, 'a') + '\n') + text.count(QByteArray(40, 'b') + '\n'), 6000);
    }
};

QTEST_GUILESS_MAIN(TestChildProcess)
#include "tst_ChildProcess.moc"

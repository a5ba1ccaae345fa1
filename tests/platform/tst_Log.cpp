#include "ChildProcess.h"
#include "Log.h"
#include "StdoutCapture.h"

#include <QSignalSpy>
#include <QtTest>

#include <string>
#include <thread>
#include <vector>

namespace {

QByteArray b(const std::string& text)
{
    return QByteArray::fromStdString(text);
}

} // namespace

class TestLog : public QObject {
    Q_OBJECT

private slots:
    void writesTextAndNewline_data();
    void writesTextAndNewline();
    void keepsOrderWithChildProcess();
    void linesFromThreadsStayWhole();
};

void TestLog::writesTextAndNewline_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("plain") << QByteArray("copy file or directories error:File exists: /x");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("japanese") << QByteArray("on fixProhibitedCharacters error:\xE8\xA6\x8B\xE7\xA9\x8D?.txt");
    QTest::newRow("not UTF-8") << QByteArray("name \xff\xfe\xc0 end");
    QTest::newRow("inner NUL") << QByteArray("before\0after", 12);
    QTest::newRow("inner newline") << QByteArray("first\nsecond");
    QTest::newRow("large") << QByteArray(1 << 20, 'x');
}

// Exactly the text and one newline, nothing held back: the capture reads
// the file without any flush on the writer's side.
void TestLog::writesTextAndNewline()
{
    QFETCH(QByteArray, text);
    StdoutCapture capture;
    Log::line(text.toStdString());
    QCOMPARE(b(capture.text()), text + '\n');
    Log::line("next");
    QCOMPARE(b(capture.text()), text + "\nnext\n");
}

// A child process writes to the same standard output: a line logged before
// it starts must come before the child's output, one logged after it ended
// must come after.
void TestLog::keepsOrderWithChildProcess()
{
    StdoutCapture capture;
    Log::line("before");
    ChildProcess child;
    QSignalSpy ended(&child, &ChildProcess::ended);
    const auto error = child.start("/bin/sh", {"-c", "echo child"});
    QVERIFY2(!error, error ? error->c_str() : "");
    QTRY_VERIFY(child.hasEnded());
    Log::line("after");
    QCOMPARE(capture.lines(), (std::vector<std::string>{"before", "child", "after"}));
    QCOMPARE(ended.count(), 1);
}

// The job logs from a worker thread while the main thread logs too: a line
// must never be split by another.
void TestLog::linesFromThreadsStayWhole()
{
    const int count = 3000;
    const std::string first(40, 'a');
    const std::string second(40, 'b');
    StdoutCapture capture;
    auto writer = [count](const std::string& text) {
        for (int i = 0; i < count; ++i)
            Log::line(text);
    };
    std::thread one(writer, first);
    std::thread two(writer, second);
    one.join();
    two.join();

    int firsts = 0;
    int seconds = 0;
    for (const std::string& line : capture.lines()) {
        QVERIFY2(line == first || line == second, line.c_str());
        (line == first ? firsts : seconds)++;
    }
    QCOMPARE(firsts, count);
    QCOMPARE(seconds, count);
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_Log.moc"

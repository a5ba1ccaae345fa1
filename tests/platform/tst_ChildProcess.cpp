// A child process gets its arguments and environment as bytes and reports
// how it ended.
#include "ChildProcess.h"
#include "StdoutCapture.h"

#include <QSignalSpy>
#include <QTest>

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

    void reportsHowItEnded_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("description");
        QTest::newRow("success") << "exit 0" << 0 << QByteArray("exit status 0");
        QTest::newRow("failure") << "exit 3" << 3 << QByteArray("exit status 3");
        QTest::newRow("killed") << "kill -9 $$" << -1 << QByteArray("killed by signal 9");
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

    void reportsAProgramThatCannotStart()
    {
        ChildProcess child;
        const auto error = child.start("/nonexistent/quillmere-no-such-program", {});
        QVERIFY(error.has_value());
        QVERIFY(child.hasEnded());
        QVERIFY(!child.succeeded());
        QCOMPARE(child.exitDescription(), "could not be started: " + *error);
    }
};

QTEST_GUILESS_MAIN(TestChildProcess)
#include "tst_ChildProcess.moc"

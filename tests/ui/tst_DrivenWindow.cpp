// The real program's window driven from another process over the
// accessibility bus, as a screen reader's user drives it, while a file is
// opened with the program from the file manager. Run by
// run-with-accessibility-bus.
#include "TestFiles.h"
#include "TestHome.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <filesystem>

class TestDrivenWindow : public QObject {
    Q_OBJECT
    TestHome m_home;

    static void drive(qint64 pid, const QString& role, const QString& name, const QString& action,
                      const QString& text = {})
    {
        QProcess driver;
        // Debian's own python, which has the introspection bindings.
        driver.start(QStringLiteral("/usr/bin/python3"), {QFINDTESTDATA("atspi-reader.py"), QStringLiteral("act"),
                                                          QString::number(pid), role, name, action, text});
        QVERIFY(driver.waitForFinished(60000));
        QCOMPARE(driver.readAllStandardOutput().trimmed(), QByteArray("done"));
    }

    // Starts the real program's window, turns encryption on with the check
    // box's toggle action and types password, all over the bus.
    static void startEncrypting(QProcess& window, const QString& password)
    {
        window.start(QStringLiteral(QUILLMERE_BINARY), {});
        QVERIFY(window.waitForStarted());
        drive(window.processId(), QStringLiteral("check box"), QStringLiteral("暗号化"), QStringLiteral("toggle"));
        drive(window.processId(), QStringLiteral("password text"), QStringLiteral("パスワード"),
              QStringLiteral("type"), password);
    }

private slots:
    // The window starts from no stored options: encryption off.
    void init() { QFile::remove(QSettings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere")).fileName()); }

    // Encryption turned on with the check box's toggle action, a password
    // typed, and at once a file opened with the program: the archive takes
    // that password, not one stored before.
    void anOpenedFileTakesThePasswordTheWindowShows()
    {
        const std::string folder = m_home.makeFolder("user");
        writeFile(folder + "/memo.txt", "memo");
        QProcess window;
        window.setProcessChannelMode(QProcess::ForwardedChannels);
        startEncrypting(window, QStringLiteral("typed-just-now"));
        if (QTest::currentTestFailed())
            return;
        QProcess opened;
        opened.setProcessChannelMode(QProcess::ForwardedChannels);
        opened.start(QStringLiteral(QUILLMERE_BINARY), {QString::fromStdString(folder + "/memo.txt")});
        QVERIFY(opened.waitForFinished(30000));
        QCOMPARE(opened.exitCode(), 0);

        const std::string archive = folder + "/archive.zip";
        QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(archive), 60000);
        QProcess unzip;
        unzip.start(QStringLiteral("unzip"), {QStringLiteral("-t"), QStringLiteral("-P"),
                                              QStringLiteral("typed-just-now"), QString::fromStdString(archive)});
        QVERIFY(unzip.waitForFinished(30000));
        QVERIFY2(unzip.exitCode() == 0, unzip.readAll().constData());

        window.terminate();
        QVERIFY(window.waitForFinished(30000));
    }

    // Where the keyring refuses the password (a session whose keyring has
    // no collection to keep it in), the note under the field says at once
    // that the settings file keeps it, as the program's line does.
    void theStorageNoteFollowsTheKeyringsRefusal()
    {
        QProcess window;
        window.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        startEncrypting(window, QStringLiteral("kept-somewhere"));
        if (QTest::currentTestFailed())
            return;
        QByteArray said;
        const auto refused = [&] {
            said += window.readAllStandardOutput();
            return said.contains("password kept in the settings file: the keyring did not store it");
        };
        // Stored once typing pauses; the keyring answers after that.
        const QDeadlineTimer answered(20000);
        while (!refused() && !answered.hasExpired())
            window.waitForReadyRead(200);
        if (!refused()) {
            window.terminate();
            window.waitForFinished(30000);
            QSKIP("this session's keyring kept the password: nothing refused to show");
        }
        const auto noteNamesTheFile = [&] {
            QProcess reader;
            reader.start(QStringLiteral("/usr/bin/python3"),
                         {QFINDTESTDATA("atspi-reader.py"), QStringLiteral("tree"), QString::number(window.processId())});
            return reader.waitForFinished(30000)
                && QString::fromUtf8(reader.readAllStandardOutput()).contains(QStringLiteral("設定ファイルに保存"));
        };
        QTRY_VERIFY_WITH_TIMEOUT(noteNamesTheFile(), 10000);
        window.terminate();
        QVERIFY(window.waitForFinished(30000));
    }
};

QTEST_GUILESS_MAIN(TestDrivenWindow)
#include "tst_DrivenWindow.moc"

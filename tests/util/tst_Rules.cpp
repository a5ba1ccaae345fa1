// The rules that decide what Windows and zipcloak accept.
#include "PasswordRule.h"
#include "WindowsName.h"

#include <QtTest>

Q_DECLARE_METATYPE(PasswordRule::Problem)
Q_DECLARE_METATYPE(std::optional<WindowsWarning>)

class TestRules : public QObject {
    Q_OBJECT
private slots:
    void passwordRule_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<PasswordRule::Problem>("problem");
        QTest::addColumn<bool>("mayFailOnWindows");
        QTest::newRow("empty") << QByteArray() << PasswordRule::Problem::Empty << false;
        QTest::newRow("80 characters") << QByteArray(80, 'a') << PasswordRule::Problem::None << false;
        QTest::newRow("81 characters") << QByteArray(81, 'a') << PasswordRule::Problem::TooLong << false;
        QTest::newRow("line feed") << QByteArray("a\nb") << PasswordRule::Problem::ControlCharacter << false;
        QTest::newRow("carriage return") << QByteArray("a\rb") << PasswordRule::Problem::ControlCharacter << false;
        QTest::newRow("delete") << QByteArray("a\x7f") << PasswordRule::Problem::ControlCharacter << false;
        QTest::newRow("symbols and blanks") << QByteArray(" \" \\ $ [ ] { } ; -") << PasswordRule::Problem::None << false;
        QTest::newRow("Japanese") << QByteArray("秘密") << PasswordRule::Problem::None << true;
        // zipcloak counts bytes: 27 Japanese characters are 81 of them.
        QTest::newRow("Japanese over 80 bytes") << QString(27, QChar(0x79D8)).toUtf8() << PasswordRule::Problem::TooLong << true;
    }
    void passwordRule()
    {
        QFETCH(QByteArray, password);
        QFETCH(PasswordRule::Problem, problem);
        QFETCH(bool, mayFailOnWindows);
        QCOMPARE(PasswordRule::check(password.toStdString()), problem);
        QCOMPARE(PasswordRule::mayFailOnWindows(password.toStdString()), mayFailOnWindows);
    }

    void sameFileOnWindows_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<bool>("same");
        QTest::newRow("ASCII case") << "Report.TXT" << "report.txt" << true;
        QTest::newRow("full-width case") << "ａｂｃ" << "ＡＢＣ" << true;
        QTest::newRow("Greek case") << "αβ" << "ΑΒ" << true;
        QTest::newRow("full-width and half-width differ") << "abc" << "ａｂｃ" << false;
        QTest::newRow("kana differ") << "か" << "が" << false;
    }
    void sameFileOnWindows()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(bool, same);
        QCOMPARE(WindowsName::sameFileKey(first.toStdString()) == WindowsName::sameFileKey(second.toStdString()), same);
    }

    void numbered_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("isFolder");
        QTest::addColumn<QString>("second");
        QTest::newRow("file") << "写真.jpg" << false << "写真 (2).jpg";
        QTest::newRow("file with two dots") << "a.tar.gz" << false << "a.tar (2).gz";
        QTest::newRow("hidden file") << ".profile" << false << ".profile (2)";
        QTest::newRow("file without extension") << "README" << false << "README (2)";
        QTest::newRow("folder with a dot") << "v1.2" << true << "v1.2 (2)";
    }
    void numbered()
    {
        QFETCH(QString, name);
        QFETCH(bool, isFolder);
        QFETCH(QString, second);
        QCOMPARE(QString::fromStdString(WindowsName::numbered(name.toStdString(), 2, isFolder)), second);
    }

    void componentWarning_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<std::optional<WindowsWarning>>("warning");
        QTest::newRow("plain") << "report.txt" << std::optional<WindowsWarning>();
        QTest::newRow("device") << "CON" << std::optional(WindowsWarning::DeviceName);
        QTest::newRow("device with extension, lower case") << "nul.txt" << std::optional(WindowsWarning::DeviceName);
        QTest::newRow("numbered device") << "LPT9.doc" << std::optional(WindowsWarning::DeviceName);
        QTest::newRow("not a device") << "CONSOLE.txt" << std::optional<WindowsWarning>();
        QTest::newRow("COM0 is no device") << "COM0" << std::optional<WindowsWarning>();
        QTest::newRow("trailing dot") << "name." << std::optional(WindowsWarning::TrailingDotOrBlank);
        QTest::newRow("trailing blank") << "name " << std::optional(WindowsWarning::TrailingDotOrBlank);
        QTest::newRow("tab inside") << "a\tb" << std::optional(WindowsWarning::ControlCharacter);
    }
    void componentWarning()
    {
        QFETCH(QString, name);
        QFETCH(std::optional<WindowsWarning>, warning);
        QVERIFY(WindowsName::componentWarning(name.toStdString()) == warning);
    }

    void pathLength()
    {
        QVERIFY(!WindowsName::isTooLong(std::string(260, 'a')));
        QVERIFY(WindowsName::isTooLong(std::string(261, 'a')));
        // Characters count, not bytes: 200 kanji are 600 bytes.
        QVERIFY(!WindowsName::isTooLong(QString(200, QChar(0x5199)).toStdString()));
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_Rules.moc"

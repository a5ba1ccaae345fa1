#include "Util.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>

Q_DECLARE_METATYPE(SettingStatus)

namespace QTest {
template <>
char* toString(const SettingStatus& status)
{
    return qstrdup(QString("(%1, \"%2\", %3)")
                       .arg(status.isEncrypt ? "true" : "false", QString::fromStdString(status.password),
                            status.isSelectDir ? "true" : "false")
                       .toUtf8()
                       .constData());
}
} // namespace QTest

namespace {

SettingStatus status(bool isEncrypt, const std::string& password, bool isSelectDir)
{
    SettingStatus result;
    result.isEncrypt = isEncrypt;
    result.password = password;
    result.isSelectDir = isSelectDir;
    return result;
}

} // namespace

class TestSettingStatusStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void emptyStoreGivesDefaults();
    void roundTrip_data();
    void roundTrip();
    void laterSaveReplacesEarlier();
    void readsWhatIsThere_data();
    void readsWhatIsThere();
    void saveDropsOtherKeys();
    void storeIsPrivate_data();
    void storeIsPrivate();
    void saveReportsStoreThatCannotBeWritten();

private:
    std::string storeFile() const { return m_config + "/Quillmere/Quillmere.conf"; }
    void writeStore(const QByteArray& text);

    std::unique_ptr<QTemporaryDir> m_ownConfig;
    std::string m_config;
    long m_writes = 0;
};

// CTest hands this test a configuration folder of its own below the build
// folder. Run any other way, the test makes one, so that clearing it can
// never reach the user's real settings.
void TestSettingStatusStore::initTestCase()
{
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const QByteArray build = qgetenv("QUILLMERE_BUILD_DIR");
    if (config.isEmpty() || build.isEmpty() || !config.startsWith(build + "/")) {
        m_ownConfig = std::make_unique<QTemporaryDir>();
        QVERIFY(m_ownConfig->isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_ownConfig->path()));
    }
    m_config = qgetenv("XDG_CONFIG_HOME").toStdString();
}

void TestSettingStatusStore::init()
{
    std::error_code error;
    std::filesystem::remove_all(m_config, error);
    std::filesystem::create_directories(m_config);
}

// Writes the store as another program (or an older version) might have.
// Each write gets a modification time of its own, so that Qt's cache of
// the parsed file never takes it for the previous one.
void TestSettingStatusStore::writeStore(const QByteArray& text)
{
    std::filesystem::create_directories(m_config + "/Quillmere");
    std::ofstream(storeFile(), std::ios::binary | std::ios::trunc) << text.toStdString();
    ++m_writes;
    const struct timespec times[2] = {{1600000000 + m_writes, 0}, {1600000000 + m_writes, 0}};
    ::utimensat(AT_FDCWD, storeFile().c_str(), times, 0);
}

void TestSettingStatusStore::emptyStoreGivesDefaults()
{
    QCOMPARE(Util::loadSettingStatus(), status(false, "", false));
}

void TestSettingStatusStore::roundTrip_data()
{
    QTest::addColumn<SettingStatus>("saved");
    QTest::newRow("encrypted") << status(true, "secret", false);
    QTest::newRow("password kept while off") << status(false, "kept while off", true);
    QTest::newRow("empty password") << status(true, "", true);
    QTest::newRow("all off") << status(false, "", false);
    QTest::newRow("generated") << status(true, "k3x9q0z7m2c5v8b1", false);
    QTest::newRow("commas") << status(true, "a,b, c", false);
    QTest::newRow("quotes") << status(true, "\"double\" 'single'", false);
    QTest::newRow("equals and comment marks") << status(true, "k=v;x#y", false);
    QTest::newRow("backslashes") << status(true, "a\\b\\\\c\\n", false);
    QTest::newRow("non-ASCII") << status(true, "\xE3\x83\x91\xE3\x82\xB9\xC2\xA5\xC3\xBC", false);
    QTest::newRow("spaces at the ends") << status(true, "  padded  ", false);
    QTest::newRow("looks like a variant") << status(true, "@Variant(abc)", false);
    QTest::newRow("looks like a group") << status(true, "[settings]", false);
    QTest::newRow("looks like a bool") << status(false, "true", false);
    QTest::newRow("digits") << status(false, "0123", false);
    QTest::newRow("tab") << status(true, "a\tb", false);
}

// What is saved comes back, and the store holds exactly the three keys
// under "settings", the password as a string (also when empty).
void TestSettingStatusStore::roundTrip()
{
    QFETCH(SettingStatus, saved);
    QVERIFY(Util::saveSettingStatus(saved));

    QCOMPARE(Util::loadSettingStatus(), saved);
    QVERIFY(QFile::exists(QString::fromStdString(storeFile())));
    QSettings stored(QString::fromStdString(storeFile()), QSettings::IniFormat);
    stored.beginGroup("settings");
    QStringList keys = stored.childKeys();
    keys.sort();
    QCOMPARE(keys, QStringList({"isEncrypt", "isSelectDir", "password"}));
    QCOMPARE(stored.value("isEncrypt").toBool(), saved.isEncrypt);
    QCOMPARE(stored.value("isSelectDir").toBool(), saved.isSelectDir);
    const QVariant password = stored.value("password");
    QCOMPARE(password.typeId(), int(QMetaType::QString));
    QCOMPARE(password.toString(), QString::fromStdString(saved.password));
}

void TestSettingStatusStore::laterSaveReplacesEarlier()
{
    QVERIFY(Util::saveSettingStatus(status(true, "first password", true)));
    QVERIFY(Util::saveSettingStatus(status(false, "", false)));
    QCOMPARE(Util::loadSettingStatus(), status(false, "", false));
}

void TestSettingStatusStore::readsWhatIsThere_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<SettingStatus>("expected");

    QTest::newRow("only a password") << QByteArray("[settings]\npassword=abc\n") << status(false, "abc", false);
    QTest::newRow("only isEncrypt") << QByteArray("[settings]\nisEncrypt=true\n") << status(true, "", false);
    QTest::newRow("only isSelectDir") << QByteArray("[settings]\nisSelectDir=true\n") << status(false, "", true);
    QTest::newRow("with an extra key")
        << QByteArray("[settings]\nisEncrypt=true\nextra=1\npassword=pw\nisSelectDir=false\n")
        << status(true, "pw", false);
    QTest::newRow("other groups only") << QByteArray("[other]\nisEncrypt=true\npassword=x\n")
                                       << status(false, "", false);
    QTest::newRow("settings is a value") << QByteArray("[General]\nsettings=plain text\n") << status(false, "", false);
    QTest::newRow("booleans of other types")
        << QByteArray("[settings]\nisEncrypt=@Rect(1 2 3 4)\npassword=pw\nisSelectDir=@Size(1 2)\n")
        << status(false, "pw", false);
    QTest::newRow("booleans that are words")
        << QByteArray("[settings]\nisEncrypt=maybe\npassword=pw\nisSelectDir=7\n") << status(false, "pw", false);
    QTest::newRow("booleans that are lists")
        << QByteArray("[settings]\nisEncrypt=true, false\npassword=pw\nisSelectDir=a, b\n")
        << status(false, "pw", false);
    QTest::newRow("password is a list")
        << QByteArray("[settings]\nisEncrypt=true\npassword=a, b\nisSelectDir=true\n") << status(true, "", true);
    QTest::newRow("password is a rectangle")
        << QByteArray("[settings]\nisEncrypt=true\npassword=@Rect(1 2 3 4)\n") << status(true, "", false);
    QTest::newRow("password is a byte array")
        << QByteArray("[settings]\npassword=@ByteArray(pw)\n") << status(false, "", false);
    QTest::newRow("broken variant") << QByteArray("[settings]\nisEncrypt=@Variant(\\0\\0)\npassword=@Variant(\\x1)\n")
                                    << status(false, "", false);
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe[\x01\n=\x80", 8) << status(false, "", false);
    QTest::newRow("empty file") << QByteArray() << status(false, "", false);
}

// Values of other types than the ones saved give that field's default,
// never a crash or a made-up value.
void TestSettingStatusStore::readsWhatIsThere()
{
    QFETCH(QByteArray, text);
    QFETCH(SettingStatus, expected);
    writeStore(text);
    QCOMPARE(Util::loadSettingStatus(), expected);
}

// The options are written whole: a key left by someone else under
// "settings" goes at the next save.
void TestSettingStatusStore::saveDropsOtherKeys()
{
    writeStore("[settings]\nisEncrypt=true\npassword=old\nisSelectDir=true\nextra=1\nmore\\nested=2\n");
    QCOMPARE(Util::loadSettingStatus(), status(true, "old", true));

    QVERIFY(Util::saveSettingStatus(status(false, "new", false)));

    QSettings stored(QString::fromStdString(storeFile()), QSettings::IniFormat);
    stored.beginGroup("settings");
    QStringList keys = stored.allKeys();
    keys.sort();
    QCOMPARE(keys, QStringList({"isEncrypt", "isSelectDir", "password"}));
    QCOMPARE(Util::loadSettingStatus(), status(false, "new", false));
}

void TestSettingStatusStore::storeIsPrivate_data()
{
    QTest::addColumn<int>("existingMode");
    QTest::addColumn<int>("umask");
    QTest::newRow("new file, umask 022") << -1 << 022;
    QTest::newRow("new file, umask 000") << -1 << 0;
    QTest::newRow("new file, umask 002") << -1 << 002;
    QTest::newRow("existing 0644") << 0644 << 022;
    QTest::newRow("existing 0666, umask 000") << 0666 << 0;
    QTest::newRow("existing 0640") << 0640 << 027;
}

// The password is stored in plain text: whoever else can read the file
// can read the password. It ends up readable by its owner alone, also when
// an older file was readable by others.
void TestSettingStatusStore::storeIsPrivate()
{
    QFETCH(int, existingMode);
    QFETCH(int, umask);
    if (existingMode >= 0) {
        writeStore("[settings]\npassword=old\n");
        ::chmod(storeFile().c_str(), static_cast<mode_t>(existingMode));
    }
    const mode_t savedMask = ::umask(static_cast<mode_t>(umask));
    const bool saved = Util::saveSettingStatus(status(true, "secret", false));
    ::umask(savedMask);

    QVERIFY(saved);
    struct stat info {};
    QCOMPARE(::stat(storeFile().c_str(), &info), 0);
    QCOMPARE(QString::number(info.st_mode & 07777, 8), QString("600"));
    QCOMPARE(Util::loadSettingStatus(), status(true, "secret", false));
}

// A save that never reached the disk must not be reported as done.
void TestSettingStatusStore::saveReportsStoreThatCannotBeWritten()
{
    std::ofstream(m_config + "/Quillmere") << "a file where the store's folder belongs";
    QVERIFY(!Util::saveSettingStatus(status(true, "secret", false)));
    QCOMPARE(Util::loadSettingStatus(), status(false, "", false));
}

QTEST_GUILESS_MAIN(TestSettingStatusStore)
#include "tst_SettingStatusStore.moc"

#include "Util.h"

#include <QSettings>
#include <QtTest>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sys/stat.h>

namespace fs = std::filesystem;

Q_DECLARE_METATYPE(SettingStatus)

static QByteArray shown(const SettingStatus& s) { return QByteArray(s.isEncrypt ? "(true, \"" : "(false, \"") + s.password.c_str() + (s.isSelectDir ? "\", true)" : "\", false)"); }

class TestUtil : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    const std::string m_store = QFile::encodeName(m_dir.path()).toStdString() + "/config/Quillmere/Quillmere.conf";
    long m_writes = 0; // each store written gets a time of its own, so that Qt's cache never takes it for the one before

private slots:
    // Failures are written in the system's words: English here. The options
    // live below the temporary folder, never in the user's.
    void initTestCase() {
        std::setlocale(LC_MESSAGES, "C");
        ::umask(0); // a store open to others would show: its 0600 must come from the code
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()) + "/config");
    }
    void cleanup() { fs::remove_all(fs::path(m_store).parent_path()); }

    void replacesProhibitedCharacters_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("fixed");
        QTest::newRow("all nine") << QByteArray("\\<>:*?\"¥|") << QByteArray("_________");
        QTest::newRow("repeated") << QByteArray("??a¥¥") << QByteArray("__a__");
        QTest::newRow("in a Japanese name") << QByteArray("メモ: 確認?.txt") << QByteArray("メモ_ 確認_.txt");
        QTest::newRow("full-width look-alikes stay") << QByteArray("＼＜＞：＊？＂￥｜") << QByteArray("＼＜＞：＊？＂￥｜");
        // "ュ", "å", "Â" and U+00A0 hold the bytes A5 or C2 without being "¥".
        QTest::newRow("bytes of other characters") << QByteArray("ュåÂ\xC2\xA0") << QByteArray("ュåÂ\xC2\xA0");
        QTest::newRow("invalid UTF-8 kept") << QByteArray("\xff\xfe?\x80 x\xA5y x\xC2") << QByteArray("\xff\xfe_\x80 x\xA5y x\xC2");
        QTest::newRow("slash stays") << QByteArray("a/b:c") << QByteArray("a/b_c");
    }
    void replacesProhibitedCharacters() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, fixed);
        QCOMPARE(QByteArray::fromStdString(Util::replaceProhibitedCharacters(name.toStdString())), fixed);
    }

    // Length as asked, a-z and 0-9 only, and every pair of neighbours equally
    // likely: each character alike and independent of the one before.
    // Chi-square with 1295 degrees of freedom exceeds 1600 with probability
    // about 1e-8; a missing character, a doubled weight, a biased position or
    // a repeated draw gives thousands.
    void randomPasswordIsUniform() {
        const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
        double pairs[36 * 36] {}, expected = 0;
        for (int i = 0; i < 9000; ++i) {
            const std::string password = Util::randomPassword(1 + i % 31);
            QVERIFY2(password.size() == size_t(1 + i % 31) && password.find_first_not_of(alphabet) == std::string::npos, password.c_str());
            for (size_t at = 1; at < password.size(); ++at, expected += 1 / 1296.0)
                ++pairs[36 * (alphabet.find(password[at - 1]) % 36) + alphabet.find(password[at]) % 36];
        }
        const double chiSquare = std::accumulate(std::begin(pairs), std::end(pairs), 0.0, [&](double sum, double n) { return sum + (n - expected) * (n - expected) / expected; });
        QVERIFY2(chiSquare < 1600, qPrintable(QString("chi-square %1").arg(chiSquare)));
    }

    void storesOptions_data() {
        QTest::addColumn<QByteArray>("stored"); // the store's text before, "" for no store
        QTest::addColumn<bool>("save");
        QTest::addColumn<SettingStatus>("status"); // saved when save, and read back
        // A field of another type than saved gives its default, never a crash or a made-up value.
        QTest::newRow("words and numbers") << QByteArray("[settings]\nisEncrypt=maybe\npassword=pw\nisSelectDir=7\n") << false << SettingStatus {false, "pw", false};
        QTest::newRow("variants, other group, binary garbage") << QByteArray("[settings]\nisEncrypt=@Rect(1 2 3 4)\npassword=@ByteArray(pw)\nisSelectDir=@Variant(\\0\\0)\n[other]\nisSelectDir=true\n")
                + QByteArray("\0\xff\xfe[\x01\n=\x80", 8) << false << SettingStatus {false, "", false};
        QTest::newRow("saved over others' keys") << QByteArray("[settings]\nisEncrypt=true\nextra=1\nmore\\nested=2\n") << true << SettingStatus {false, "k3x9q0z7m2c5v8b1", true};
        QTest::newRow("saved new, file format characters, non-ASCII") << QByteArray() << true << SettingStatus {true, " a,b \"q\" k=v;#\\n [settings] @Variant(x) パス¥ü ", false};
    }
    // A save writes the group whole (others' keys go), the password as a
    // string, into a file for its owner alone: the password is plain text.
    // A save that never reaches the disk is no success.
    void storesOptions() {
        QFETCH(QByteArray, stored); QFETCH(bool, save); QFETCH(SettingStatus, status);
        if (!stored.isEmpty()) // as another program might have written it
            fs::create_directories(fs::path(m_store).parent_path()), std::ofstream(m_store, std::ios::binary) << stored.toStdString(), fs::last_write_time(m_store, fs::file_time_type::clock::now() + std::chrono::seconds(++m_writes));
        QVERIFY(!save || Util::saveSettingStatus(status));
        QCOMPARE(shown(Util::loadSettingStatus()), shown(status));
        QVERIFY(!save || (QSettings(QString::fromStdString(m_store), QSettings::IniFormat).allKeys() == QStringList {"settings/isEncrypt", "settings/isSelectDir", "settings/password"}
                          && fs::status(m_store).permissions() == (fs::perms::owner_read | fs::perms::owner_write)
                          && fs::remove(m_store) && fs::create_directory(m_store) && !Util::saveSettingStatus(status)));
    }
};

QTEST_GUILESS_MAIN(TestUtil)
#include "tst_Util.moc"

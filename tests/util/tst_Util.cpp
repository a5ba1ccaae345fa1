#include "StdoutCapture.h"
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

static QByteArray sorted(QByteArrayList lines) { std::sort(lines.begin(), lines.end()); return lines.join('\n'); }
static QByteArray shown(const SettingStatus& s) { return QByteArray(s.isEncrypt ? "(true, \"" : "(false, \"") + s.password.c_str() + (s.isSelectDir ? "\", true)" : "\", false)"); }

class TestUtil : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    // The home folder, and so the staging folder, may itself hold ":" or a
    // quote: only the names below the content folder count.
    const std::string m_home = QFile::encodeName(m_dir.path()).toStdString() + "/home:\"odd|", m_staging = m_home + "/staging", m_content = m_staging + "/out/archive";
    const std::string m_store = QFile::encodeName(m_dir.path()).toStdString() + "/config/Quillmere/Quillmere.conf";
    long m_writes = 0; // each store written gets a time of its own, so that Qt's cache never takes it for the one before

    // Items under their staged path, a file holding that path, "x -> y" a link.
    void stage(const QByteArrayList& items) const {
        for (const QByteArray& item : items) {
            const qsizetype arrow = item.indexOf(" -> ");
            const fs::path path = m_staging + "/" + item.left(arrow < 0 ? item.size() : arrow).toStdString();
            fs::create_directories(path.parent_path());
            arrow < 0 ? void(std::ofstream(path) << item.toStdString()) : fs::create_symlink(item.mid(arrow + 4).toStdString(), path);
        }
    }
    // The lines logged, the content folder written "{C}", and the files and
    // links made there as "path = data" and "path -> target", sorted together.
    QByteArray fix() const {
        StdoutCapture capture;
        Util::fixProhibitedCharacters(m_staging, "out");
        QByteArrayList result = QByteArray::fromStdString(capture.text()).replace(m_content, "{C}").split('\n');
        std::error_code error;
        for (fs::recursive_directory_iterator it(m_content, error), end; it != end; ++it)
            if (it->is_symlink() || !it->is_directory())
                result << QByteArray::fromStdString(it->path().string().substr(m_content.size() + 1) + (it->is_symlink() ? " -> " + fs::read_symlink(*it).string()
                                                    : " = " + std::string(std::istreambuf_iterator<char>(std::ifstream(it->path(), std::ios::binary).rdbuf()), {})));
        return sorted(result).mid(1); // less the empty piece after the log's last "\n", sorted first
    }

private slots:
    // Failures are written in the system's words: English here. The options
    // live below the temporary folder, never in the user's.
    void initTestCase() {
        std::setlocale(LC_MESSAGES, "C");
        ::umask(0); // a store open to others would show: its 0600 must come from the code
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()) + "/config");
    }
    void cleanup() { fs::remove_all(m_home), fs::remove_all(fs::path(m_store).parent_path()); }

    void fixesNames_data() {
        QTest::addColumn<QByteArrayList>("staged");
        QTest::addColumn<QByteArrayList>("result"); // see fix()
        // The nine, repeated; full-width look-alikes stay, and so do "ュ", "å", "Â" and U+00A0, which hold the bytes A5 or C2 without being "¥"; invalid UTF-8 is left as it is.
        QTest::newRow("characters") << QByteArrayList {"\\<>:*?\"¥|", "??a¥¥", "メモ: 確認?.txt", "＼＜＞：＊？＂￥｜", "ュåÂ\xC2\xA0", "\xff\xfe?\x80 x\xA5y x\xC2", "\xE3\xC2\xA5:"}
                                    << QByteArrayList {"_________ = \\<>:*?\"¥|", "__a__ = ??a¥¥", "メモ_ 確認_.txt = メモ: 確認?.txt", "＼＜＞：＊？＂￥｜ = ＼＜＞：＊？＂￥｜", "ュåÂ\xC2\xA0 = ュåÂ\xC2\xA0", "\xff\xfe_\x80 x\xA5y x\xC2 = \xff\xfe?\x80 x\xA5y x\xC2", "\xE3__ = \xE3\xC2\xA5:"};
        // Its copy under the staged name goes, and its items with it: their own removal fails once.
        QTest::newRow("prohibited folder in a plain one") << QByteArrayList {"top/s?/f", "top/plain"} << QByteArrayList {"top/plain = top/plain", "top/s_/f = top/s?/f", "on fixProhibitedCharacters error:File exists: {C}/top/s_/f, error fileName: top/s?/f", "on fixProhibitedCharacters error:File exists: {C}/top/plain, error fileName: top/plain", "move unnecessary file error"};
        // A fixed name already taken keeps what is there; a link is renamed as a link, never followed.
        QTest::newRow("fixed name taken, link") << QByteArrayList {"d/x_y", "d/x?y", "keep/data", "e/l? -> ../keep"} << QByteArrayList {"d/x_y = d/x_y", "on fixProhibitedCharacters error:File exists: {C}/d/x_y, error fileName: d/x_y", "on fixProhibitedCharacters error:File exists: {C}/d/x_y, error fileName: d/x?y", "e/l_ -> ../keep", "keep/data = keep/data", "on fixProhibitedCharacters error:File exists: {C}/keep/data, error fileName: keep/data"};
        QTest::newRow("output folder taken by a file") << QByteArrayList {"out"} << QByteArrayList {"create dir error:Not a directory: {C}", "on fixProhibitedCharacters error:Not a directory: {C}/out, error fileName: out"};
    }
    void fixesNames() {
        QFETCH(QByteArrayList, staged); QFETCH(QByteArrayList, result);
        stage(staged);
        QCOMPARE(fix(), sorted(result));
    }

    // f? and f* both become f_: the first listed is copied whole (so its plain
    // items are there before their own copy), the second only fills in what
    // is not there yet; c*d within becomes c_d either way.
    void mergesFoldersWithSameFixedName() {
        stage({"f?/both", "f?/q", "f?/c*d", "f*/both", "f*/s"});
        const QByteArray first = QByteArray::fromStdString(fs::directory_iterator(m_staging)->path().filename()), second = first == "f?" ? "f*" : "f?", only = first == "f?" ? "q" : "s", exists = "on fixProhibitedCharacters error:File exists: {C}/f_";
        QCOMPARE(fix(), sorted({exists + "/both, error fileName: " + first + "/both", exists + ", error fileName: " + second, exists + "/" + only + ", error fileName: " + first + "/" + only,
                                exists + "/both, error fileName: " + second + "/both", "f_/both = " + first + "/both", "f_/q = f?/q", "f_/s = f*/s", "f_/c_d = f?/c*d"}));
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

#include "StdoutCapture.h"
#include "Util.h"

#include <QSettings>
#include <QtTest>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

Q_DECLARE_METATYPE(SettingStatus)

static QByteArray sorted(QByteArrayList lines) { std::sort(lines.begin(), lines.end()); return lines.join('\n'); }
static QByteArray shown(const SettingStatus& s) { return QByteArray(s.isEncrypt ? "(true, \"" : "(false, \"") + s.password.c_str() + (s.isSelectDir ? "\", true)" : "\", false)"); }

// The files and links below top as "path = data" and "path -> target", sorted.
static QByteArray tree(const std::string& top)
{
    QByteArrayList lines;
    std::error_code error;
    for (fs::recursive_directory_iterator it(top, error), end; it != end; ++it)
        if (it->is_symlink() || !it->is_directory())
            lines << QByteArray::fromStdString(it->path().string().substr(top.size() + 1) + (it->is_symlink() ? " -> " + fs::read_symlink(*it).string()
                                                : " = " + std::string(std::istreambuf_iterator<char>(std::ifstream(it->path(), std::ios::binary).rdbuf()), {})));
    return sorted(lines);
}

class TestUtil : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    // The home folder, and so the staging folder, may itself hold ":" or a
    // quote: only the names below the content folder count.
    const std::string m_home = QFile::encodeName(m_dir.path()).toStdString() + "/home:\"odd|", m_staging = m_home + "/staging";
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
    // The lines logged, sorted, the content folder written "{C}".
    QByteArray fix() const {
        StdoutCapture capture;
        Util::fixProhibitedCharacters(m_staging, "out");
        return sorted(QByteArray::fromStdString(capture.text()).chopped(capture.text().empty() ? 0 : 1).split('\n')).replace(m_staging + "/out/archive", "{C}");
    }

private slots:
    // Failures are written in the system's words: English here. The options
    // live below the temporary folder, never in the user's.
    void initTestCase() {
        std::setlocale(LC_MESSAGES, "C");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()) + "/config");
    }
    void cleanup() { fs::remove_all(m_home), fs::remove_all(fs::path(m_store).parent_path()); }

    void fixesNames_data() {
        QTest::addColumn<QByteArrayList>("staged");
        QTest::addColumn<QByteArrayList>("fixed");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::newRow("the nine, repeated") << QByteArrayList {"\\<>:*?\"¥|", "??a¥¥", "メモ: 確認?.txt"} << QByteArrayList {"_________ = \\<>:*?\"¥|", "__a__ = ??a¥¥", "メモ_ 確認_.txt = メモ: 確認?.txt"} << QByteArrayList {};
        // Full-width look-alikes; "ュ", "å", "Â" and U+00A0 hold the bytes A5 or C2 without being "¥".
        QTest::newRow("other characters stay") << QByteArrayList {"＼＜＞：＊？＂￥｜", "ュåÂ\xC2\xA0"} << QByteArrayList {"＼＜＞：＊？＂￥｜ = ＼＜＞：＊？＂￥｜", "ュåÂ\xC2\xA0 = ュåÂ\xC2\xA0"} << QByteArrayList {};
        QTest::newRow("invalid UTF-8 untouched") << QByteArrayList {"\xff\xfe?\x80 x\xA5y x\xC2", "\xE3\xC2\xA5:"} << QByteArrayList {"\xff\xfe_\x80 x\xA5y x\xC2 = \xff\xfe?\x80 x\xA5y x\xC2", "\xE3__ = \xE3\xC2\xA5:"} << QByteArrayList {};
        // A folder is copied whole first: its plain items are there before their own copy.
        QTest::newRow("prohibited folder") << QByteArrayList {"a?b/plain", "a?b/c*d"} << QByteArrayList {"a_b/plain = a?b/plain", "a_b/c_d = a?b/c*d"} << QByteArrayList {"on fixProhibitedCharacters error:File exists: {C}/a_b/plain, error fileName: a?b/plain"};
        // Its copy under the staged name goes, and its items with it: their own removal fails once.
        QTest::newRow("prohibited folder in a plain one") << QByteArrayList {"top/s?/f", "top/plain"} << QByteArrayList {"top/plain = top/plain", "top/s_/f = top/s?/f"} << QByteArrayList {"on fixProhibitedCharacters error:File exists: {C}/top/s_/f, error fileName: top/s?/f", "on fixProhibitedCharacters error:File exists: {C}/top/plain, error fileName: top/plain", "move unnecessary file error"};
        QTest::newRow("fixed name taken") << QByteArrayList {"d/x_y", "d/x?y"} << QByteArrayList {"d/x_y = d/x_y"} << QByteArrayList {"on fixProhibitedCharacters error:File exists: {C}/d/x_y, error fileName: d/x_y", "on fixProhibitedCharacters error:File exists: {C}/d/x_y, error fileName: d/x?y"};
        QTest::newRow("link stays a link") << QByteArrayList {"keep/data", "d/l? -> ../keep"} << QByteArrayList {"d/l_ -> ../keep", "keep/data = keep/data"} << QByteArrayList {"on fixProhibitedCharacters error:File exists: {C}/keep/data, error fileName: keep/data"};
        QTest::newRow("output folder taken by a file") << QByteArrayList {"out"} << QByteArrayList {} << QByteArrayList {"create dir error:Not a directory: {C}", "on fixProhibitedCharacters error:Not a directory: {C}/out, error fileName: out"};
    }
    void fixesNames() {
        QFETCH(QByteArrayList, staged);
        QFETCH(QByteArrayList, fixed);
        QFETCH(QByteArrayList, lines);
        stage(staged);
        QCOMPARE(fix(), sorted(lines));
        QCOMPARE(tree(m_staging + "/out/archive"), sorted(fixed));
    }

    // f? and f* both become f_: the first listed is copied whole, the second
    // only fills in what is not there yet.
    void mergesFoldersWithSameFixedName() {
        stage({"f?/both", "f?/q", "f*/both", "f*/s"});
        const QByteArray first = QByteArray::fromStdString(fs::directory_iterator(m_staging)->path().filename()), second = first == "f?" ? "f*" : "f?", only = first == "f?" ? "q" : "s";
        QCOMPARE(fix(), sorted({"on fixProhibitedCharacters error:File exists: {C}/f_/both, error fileName: " + first + "/both", "on fixProhibitedCharacters error:File exists: {C}/f_, error fileName: " + second, "on fixProhibitedCharacters error:File exists: {C}/f_/" + only + ", error fileName: " + first + "/" + only, "on fixProhibitedCharacters error:File exists: {C}/f_/both, error fileName: " + second + "/both"}));
        QCOMPARE(tree(m_staging + "/out/archive"), sorted({"f_/both = " + first + "/both", "f_/q = f?/q", "f_/s = f*/s"}));
    }

    // Length as asked, a-z and 0-9 only, and every pair of neighbours equally
    // likely: each character alike and independent of the one before.
    // Chi-square with 1295 degrees of freedom exceeds 1600 with probability
    // about 1e-8; a missing character, a doubled weight, a biased position or
    // a repeated draw gives thousands.
    void randomPasswordIsUniform() {
        const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
        QCOMPARE(Util::randomPassword(1).size() + Util::randomPassword(200).size(), size_t(201));
        double pairs[36][36] {}, chiSquare = 0, expected = 9000 * 15 / 1296.0;
        for (int i = 0; i < 9000; ++i) {
            const std::string password = Util::randomPassword(16);
            QVERIFY2(password.size() == 16 && password.find_first_not_of(alphabet) == std::string::npos, password.c_str());
            for (size_t at = 1; at < 16; ++at)
                ++pairs[alphabet.find(password[at - 1]) % 36][alphabet.find(password[at]) % 36];
        }
        for (const auto& row : pairs)
            for (const double count : row)
                chiSquare += (count - expected) * (count - expected) / expected;
        QVERIFY2(chiSquare < 1600, qPrintable(QString("chi-square %1").arg(chiSquare)));
    }

    void storesOptions_data() {
        QTest::addColumn<QByteArray>("stored"); // the store's text before, "" for no store
        QTest::addColumn<bool>("save");
        QTest::addColumn<SettingStatus>("status"); // saved when save, and read back
        QTest::newRow("nothing stored: defaults") << QByteArray() << false << SettingStatus {false, "", false};
        // A field of another type than saved gives its default, never a crash or a made-up value.
        QTest::newRow("words and numbers") << QByteArray("[settings]\nisEncrypt=maybe\npassword=pw\nisSelectDir=7\n") << false << SettingStatus {false, "pw", false};
        QTest::newRow("lists") << QByteArray("[settings]\nisEncrypt=true, false\npassword=a, b\nisSelectDir=true\n") << false << SettingStatus {false, "", true};
        QTest::newRow("variants") << QByteArray("[settings]\nisEncrypt=@Rect(1 2 3 4)\npassword=@ByteArray(pw)\nisSelectDir=@Variant(\\0\\0)\n") << false << SettingStatus {false, "", false};
        QTest::newRow("other group, binary garbage") << QByteArray("[other]\nisEncrypt=true\n") + QByteArray("\0\xff\xfe[\x01\n=\x80", 8) << false << SettingStatus {false, "", false};
        QTest::newRow("saved over others' keys") << QByteArray("[settings]\nisEncrypt=true\nextra=1\nmore\\nested=2\n") << true << SettingStatus {false, "k3x9q0z7m2c5v8b1", true};
        QTest::newRow("saved new, file format characters") << QByteArray() << true << SettingStatus {true, " a,b \"q\" k=v;#\\n [settings] @Variant(x) ", false};
        QTest::newRow("saved new, non-ASCII") << QByteArray() << true << SettingStatus {true, "パス¥ü", false};
    }
    // A save writes the group whole (others' keys go), the password as a
    // string, into a file for its owner alone: the password is plain text.
    void storesOptions() {
        QFETCH(QByteArray, stored);
        QFETCH(bool, save);
        QFETCH(SettingStatus, status);
        fs::create_directories(fs::path(m_store).parent_path());
        if (!stored.isEmpty()) // as another program might have written it
            std::ofstream(m_store, std::ios::binary) << stored.toStdString(), fs::last_write_time(m_store, fs::file_time_type::clock::now() + std::chrono::seconds(++m_writes));
        const mode_t umask = ::umask(0);
        QVERIFY(!save || Util::saveSettingStatus(status));
        ::umask(umask);
        QCOMPARE(shown(Util::loadSettingStatus()), shown(status));
        QSettings file(QString::fromStdString(m_store), QSettings::IniFormat);
        QVERIFY(!save || (file.allKeys() == QStringList {"settings/isEncrypt", "settings/isSelectDir", "settings/password"} && file.value("settings/password").typeId() == QMetaType::QString
                          && fs::status(m_store).permissions() == (fs::perms::owner_read | fs::perms::owner_write)));
    }

    // A save that never reached the disk must not be reported as done.
    void reportsFailedSave() {
        fs::create_directories(fs::path(m_store).parent_path().parent_path());
        std::ofstream(fs::path(m_store).parent_path()) << "a file where the store's folder belongs";
        QVERIFY(!Util::saveSettingStatus(SettingStatus {true, "secret", false}));
    }
};

QTEST_GUILESS_MAIN(TestUtil)
#include "tst_Util.moc"

// Util's shared rules on real trees and stores: the content folder built
// with the names the archive will show on Windows and what is left out and
// why, the names and passwords Windows and zipcloak accept, and the stored
// options.
#include "ArchiveContent.h"
#include "FileManager.h"
#include "PasswordRule.h"
#include "SpaceCheck.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "TmpfsMounts.h"
#include "Util.h"
#include "WorkFolders.h"

#include <QSettings>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <map>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sys/stat.h>

namespace fs = std::filesystem;

using Reasons = std::vector<LeftOutReason>;
Q_DECLARE_METATYPE(Reasons)
Q_DECLARE_METATYPE(PasswordRule::Problem)

namespace {

// Rows where the number of renamed items depends on which sibling the file
// system lists first.
constexpr int kDepends = -1;

} // namespace

class TestUtil : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    std::optional<TestHome> m_home; // where the trees are built, one for each test
    TmpfsMounts m_mounts;           // file systems of the test's own
    const std::string m_store = QFile::encodeName(m_dir.path()).toStdString() + "/config/Quillmere/Quillmere.conf";
    // Each store written gets a time of its own, so that Qt's cache never
    // takes it for the one before.
    int m_writes = 0;

    // The store as another program might have written it.
    void writeStore(const QByteArray& text)
    {
        fs::create_directories(fs::path(m_store).parent_path());
        std::ofstream(m_store, std::ios::binary) << text.toStdString();
        fs::last_write_time(m_store, fs::file_time_type::clock::now() + std::chrono::seconds(++m_writes));
    }

    std::string source(const QString& relative) const { return m_home->path() + "/src/" + relative.toStdString(); }

    // "path=content" makes a file, "path/" a folder, "path->target" a link.
    void makeTree(const QStringList& items) const
    {
        for (const QString& item : items) {
            if (item.contains("->")) {
                fs::create_directories(fs::path(source(item.section("->", 0, 0))).parent_path());
                fs::create_symlink(item.section("->", 1).toStdString(), source(item.section("->", 0, 0)));
            } else if (item.endsWith('/')) {
                fs::create_directories(source(item));
            } else {
                m_home->writeFile("src/" + item.section('=', 0, 0).toStdString(), item.section('=', 1).toStdString());
            }
        }
    }

    // dropped: paths below the tree's folder, or absolute.
    StagedContent build(const QStringList& dropped) const
    {
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());
        std::vector<std::string> items;
        for (const QString& item : dropped)
            items.push_back(item.startsWith('/') ? item.toStdString() : source(item));
        return Util::fixProhibitedCharacters(folders, items, [] { return false; });
    }

    // The archive's entries as Windows shows them, in upper case: which of
    // two names that differ in case keeps it depends on the listing order.
    static QStringList shownUpper(const StagedContent& content)
    {
        QStringList names;
        for (const std::string& entry : content.expectedEntries)
            names << ArchiveContent::shownOnWindows(entry).toUpper();
        names.sort();
        return names;
    }

    // A file system of the test's own below the home, where no hard link
    // from the home reaches; empty when none can be mounted.
    std::string otherFileSystem()
    {
        const std::string folder = m_home->path() + "/other";
        fs::create_directories(folder);
        return m_mounts.mount(folder, "size=16m") ? folder : std::string();
    }

private slots:
    // The options live below the temporary folder, never in the user's.
    void initTestCase()
    {
        ::umask(0); // a store open to others would show: its 0600 must come from the code
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()) + "/config");
    }
    void init() { m_home.emplace(); }
    void cleanup() { m_mounts.unmountAll(); }

    void replacesProhibitedCharacters_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("fixed");
        QTest::newRow("all nine, slash kept") << QByteArray("a/\\<>:*?\"¥|") << QByteArray("a/_________");
        // Full-width look-alikes; "ュ", "å", "Â" and U+00A0 hold the bytes A5
        // or C2 without being "¥".
        QTest::newRow("other characters kept") << QByteArray("＼＜＞：＊？＂￥｜ュåÂ\xC2\xA0")
                                               << QByteArray("＼＜＞：＊？＂￥｜ュåÂ\xC2\xA0");
        QTest::newRow("invalid UTF-8 kept")
            << QByteArray("\xff\xfe?\x80 x\xA5y x\xC2") << QByteArray("\xff\xfe_\x80 x\xA5y x\xC2");
    }
    void replacesProhibitedCharacters()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, fixed);
        QCOMPARE(QByteArray::fromStdString(Util::replaceProhibitedCharacters(name.toStdString())), fixed);
    }

    void passwordRule_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<PasswordRule::Problem>("problem");
        QTest::addColumn<QByteArray>("windowsBytes"); // null: none
        QTest::addColumn<bool>("needsJapaneseWindows");
        const QByteArray none;
        QTest::newRow("empty") << QByteArray() << PasswordRule::Problem::Empty << QByteArray("") << false;
        QTest::newRow("delete") << QByteArray("a\x7f") << PasswordRule::Problem::ControlCharacter
                                << QByteArray("a\x7f") << false;
        QTest::newRow("ASCII unchanged") << QByteArray("-a\"b\\c$ ~") << PasswordRule::Problem::None
                                         << QByteArray("-a\"b\\c$ ~") << false;
        // 表 ends in 0x5C; half-width kana are one byte.
        QTest::newRow("Japanese as code page 932") << QByteArray("パスワード表ｱ") << PasswordRule::Problem::None
                                                   << QByteArray("\x83\x70\x83\x58\x83\x8f\x81\x5b\x83\x68"
                                                                 "\x95\x5c\xb1")
                                                   << true;
        QTest::newRow("NEC extension") << QByteArray("①㈱") << PasswordRule::Problem::None
                                       << QByteArray("\x87\x40\x87\x8a") << true;
        QTest::newRow("emoji") << QByteArray("パスワード😀") << PasswordRule::Problem::OutsideCp932 << none << true;
        QTest::newRow("Korean") << QByteArray("비밀") << PasswordRule::Problem::OutsideCp932 << none << true;
        QTest::newRow("not UTF-8") << QByteArray("\x83\x70") << PasswordRule::Problem::NotUtf8 << none << true;
        QTest::newRow("not UTF-8 after ASCII") << QByteArray("caf\xe9") << PasswordRule::Problem::NotUtf8 << none
                                               << true;
        // As a Mac writes kana: the receiver types the one character.
        QTest::newRow("decomposed kana") << QByteArray("\xe3\x81\x8b\xe3\x82\x99") << PasswordRule::Problem::None
                                         << QByteArray("\x82\xaa") << true;
        QTest::newRow("accent, composed or not") << QByteArray("cafe\xcc\x81") << PasswordRule::Problem::OutsideCp932
                                                 << none << true;
        // Code page 932 holds them as they are; composed, they would change.
        QTest::newRow("compatibility kanji") << QByteArray("\xef\xa8\x90x") << PasswordRule::Problem::None
                                             << QByteArray("\xfa\x9cx") << true;
        QTest::newRow("angstrom sign") << QByteArray("\xe2\x84\xabx") << PasswordRule::Problem::None
                                       << QByteArray("\x81\xf0x") << true;
        // A file saved by Notepad starts with one; nothing is typed for it.
        QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbfpw") << PasswordRule::Problem::None
                                         << QByteArray("pw") << true;
        QTest::newRow("tag characters alone") << QByteArray("\xf3\xa0\x81\x81") << PasswordRule::Problem::OutsideCp932
                                              << QByteArray("") << true;
        // zipcloak counts bytes: 39 Japanese characters are 78 of them in
        // code page 932 (117 in UTF-8).
        const QString japanese(39, QChar(0x79D8));
        const QByteArray japaneseBytes = QByteArray("\x94\xe9").repeated(39);
        QTest::newRow("80 bytes, Japanese") << (japanese + "ab").toUtf8() << PasswordRule::Problem::None
                                            << japaneseBytes + "ab" << true;
        QTest::newRow("81 bytes, Japanese") << (japanese + "abc").toUtf8() << PasswordRule::Problem::TooLong
                                            << japaneseBytes + "abc" << true;
        QTest::newRow("80 bytes, ASCII") << QByteArray(80, 'x') << PasswordRule::Problem::None << QByteArray(80, 'x')
                                         << false;
        QTest::newRow("81 bytes, ASCII") << QByteArray(81, 'x') << PasswordRule::Problem::TooLong
                                         << QByteArray(81, 'x') << false;
    }
    // The rule judges the bytes Japanese Windows types, not the UTF-8.
    void passwordRule()
    {
        QFETCH(QByteArray, password);
        QFETCH(PasswordRule::Problem, problem);
        QFETCH(QByteArray, windowsBytes);
        QFETCH(bool, needsJapaneseWindows);
        QCOMPARE(PasswordRule::check(password.toStdString()), problem);
        const std::optional<std::string> bytes = PasswordRule::windowsBytes(password.toStdString());
        QCOMPARE(bytes.has_value(), !windowsBytes.isNull());
        if (bytes)
            QCOMPARE(QByteArray::fromStdString(*bytes), windowsBytes);
        QCOMPARE(PasswordRule::needsJapaneseWindows(password.toStdString()), needsJapaneseWindows);
    }

    // Length as asked, a-z and 0-9 only, every pair of neighbours equally
    // likely. Chi-square with 1295 degrees of freedom exceeds 1600 with
    // probability about 1e-8; a missing character, a doubled weight, a biased
    // position or a repeated draw gives thousands.
    void randomPasswordIsUniform()
    {
        const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
        double pairs[36 * 36] {};
        double expected = 0;
        for (int i = 0; i < 9000; ++i) {
            const std::string password = Util::randomPassword(1 + i % 31);
            QCOMPARE(password.size(), size_t(1 + i % 31));
            QVERIFY2(password.find_first_not_of(alphabet) == std::string::npos, password.c_str());
            for (size_t at = 1; at < password.size(); ++at, expected += 1 / 1296.0)
                ++pairs[36 * alphabet.find(password[at - 1]) + alphabet.find(password[at])];
        }
        const double chiSquare = std::accumulate(std::begin(pairs), std::end(pairs), 0.0, [&](double sum, double n) {
            return sum + (n - expected) * (n - expected) / expected;
        });
        QVERIFY2(chiSquare < 1600, qPrintable(QString("chi-square %1").arg(chiSquare)));
    }

    // Fields of other types than saved, or unreadable bytes, give the
    // defaults, never a crash or a made-up value.
    void readsOddStoresAsDefaults()
    {
        writeStore("[settings]\nisEncrypt=maybe\npassword=@ByteArray(pw)\nisSelectDir=7\n[other]\nisSelectDir=true\n"
                   + QByteArray("\0\xff\xfe[\x01\n=\x80", 8));
        QCOMPARE(Util::loadSettingStatus(), SettingStatus());
    }

    // A save writes the group whole (others' keys go), the password as a
    // string, into a file for its owner alone. A password that cannot
    // encrypt an archive is left out, an empty one too. A save that never
    // reaches the disk is no success.
    void savesTheGroupWholeForItsOwnerAlone()
    {
        writeStore("[settings]\nisEncrypt=false\nextra=1\nmore\\nested=2\n");
        const SettingStatus status{true, " a,b \"q\" k=v;#\\n [settings] @Variant(x) パス＼ ", true, true};
        QVERIFY(Util::saveSettingStatus(status));
        QCOMPARE(Util::loadSettingStatus(), status);
        QCOMPARE(QSettings(QString::fromStdString(m_store), QSettings::IniFormat).allKeys(),
                 (QStringList{"settings/isEncrypt", "settings/isSelectDir", "settings/nameAfterItems",
                              "settings/password"}));
        QCOMPARE(fs::status(m_store).permissions(), fs::perms::owner_read | fs::perms::owner_write);

        for (const std::string& unusable : {std::string(), std::string(85, 'x'), std::string("パス😀")}) {
            QVERIFY(Util::saveSettingStatus({true, unusable, false, true}));
            QCOMPARE(Util::loadSettingStatus(), (SettingStatus{true, "", false, true}));
            QVERIFY(!QSettings(QString::fromStdString(m_store), QSettings::IniFormat).contains("settings/password"));
        }

        fs::remove(m_store);
        fs::create_directory(m_store);
        QVERIFY(!Util::saveSettingStatus(status));
    }

    // The entries as Windows shows them, how many items were renamed and
    // why items were left out.
    void stagesTheTree_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<int>("renamed");
        QTest::addColumn<Reasons>("leftOut");
        const auto row = [](const char* name, const QStringList& tree, const QStringList& dropped,
                            const QStringList& entries, int renamed, const Reasons& leftOut = {}) {
            QTest::newRow(name) << tree << dropped << entries << renamed << leftOut;
        };
        row("characters outside code page 932", {"d/写真🍣.jpg=1", "d/写真🍜.jpg=2", "d/写真_.jpg=3"}, {"d"},
            {"ARCHIVE/D/写真_ (2).JPG", "ARCHIVE/D/写真_ (3).JPG", "ARCHIVE/D/写真_.JPG"}, kDepends);
        row("prohibited characters meet a name", {"a:b.txt=1", "a_b.txt=2"}, {"a:b.txt", "a_b.txt"},
            {"ARCHIVE/A_B (2).TXT", "ARCHIVE/A_B.TXT"}, kDepends);
        row("letter case, full-width too", {"d/Report.txt=1", "d/report.TXT=2", "d/ａ.txt=3", "d/Ａ.txt=4"}, {"d"},
            {"ARCHIVE/D/REPORT (2).TXT", "ARCHIVE/D/REPORT.TXT", "ARCHIVE/D/Ａ (2).TXT", "ARCHIVE/D/Ａ.TXT"}, 2);
        row("composed and decomposed", {"d/が.txt=1", QString("d/か") + QChar(0x3099) + ".txt=2"}, {"d"},
            {"ARCHIVE/D/が (2).TXT", "ARCHIVE/D/が.TXT"}, 1);
        row("wave dashes", {"d/〜.txt=1", "d/～.txt=2"}, {"d"}, {"ARCHIVE/D/～ (2).TXT", "ARCHIVE/D/～.TXT"}, kDepends);
        row("accent transliterated", {"d/café.txt=1", "d/cafe.txt=2"}, {"d"},
            {"ARCHIVE/D/CAFE (2).TXT", "ARCHIVE/D/CAFE.TXT"}, kDepends);
        row("folders and files meet at two depths", {"t/s?/x?=1", "t/s?/x*=2", "t/s*/x?=3", "t/s*/x*=4"}, {"t"},
            {"ARCHIVE/T/S_ (2)/X_", "ARCHIVE/T/S_ (2)/X_ (2)", "ARCHIVE/T/S_/X_", "ARCHIVE/T/S_/X_ (2)"}, 6);
        // A link to a file is its content; a link to a folder inside a
        // given folder brings nothing (a link to "/" would bring the whole
        // system); a link the user gave is followed once.
        row("links archived as what they lead to",
            {"d/real.txt=data", "d/link.txt->real.txt", "outside/o.txt=o", "d/out->../outside"}, {"d"},
            {"ARCHIVE/D/LINK.TXT", "ARCHIVE/D/REAL.TXT"}, 0, {LeftOutReason::LinkToFolder});
        row("link to the root folder", {"d/ok=1", "d/sysroot->/"}, {"d"}, {"ARCHIVE/D/OK"}, 0,
            {LeftOutReason::LinkToFolder});
        row("a given link to a folder is followed once", {"outside/o.txt=o", "outside/again->.", "given->outside"},
            {"given"}, {"ARCHIVE/GIVEN/O.TXT"}, 0, {LeftOutReason::LinkToFolder});
        row("dangling link", {"d/ok=1", "d/gone->nowhere"}, {"d"}, {"ARCHIVE/D/OK"}, 0, {LeftOutReason::DanglingLink});
        row("link loop", {"d/ok=1", "d/loop->."}, {"d"}, {"ARCHIVE/D/OK"}, 0, {LeftOutReason::LinkToFolder});
        row("the running system's items", {"ok=1"}, {"ok", "/dev/null", "/proc/self", "/sys/kernel"}, {"ARCHIVE/OK"},
            0, {LeftOutReason::SystemItem, LeftOutReason::SystemItem, LeftOutReason::SystemItem});
        // Inside a folder too: /proc's files tell about their reader, and
        // some never end.
        row("links into the running system", {"d/ok=1", "d/status->/proc/self/status", "d/version->/proc/version"},
            {"d"}, {"ARCHIVE/D/OK"}, 0, {LeftOutReason::SystemItem, LeftOutReason::SystemItem});
        row("missing item", {}, {"nothing"}, {"ARCHIVE/"}, 0, {LeftOutReason::Missing});
        row("path holding .DS_Store", {"d/ok=1", "d/x.DS_Store.txt=2"}, {"d"}, {"ARCHIVE/D/OK"}, 0,
            {LeftOutReason::ExcludedName});
        row("a .DS_Store given", {"ok=1", ".DS_Store=2"}, {"ok", ".DS_Store"}, {"ARCHIVE/OK"}, 0,
            {LeftOutReason::ExcludedName});
        row("same item given twice", {"ok=1", "d/"}, {"ok", "d/../ok", "ok"}, {"ARCHIVE/OK"}, 0,
            {LeftOutReason::SameItem, LeftOutReason::SameItem});
        row("one file by several names", {"a.txt=1", "b.txt->a.txt", "d/a.txt->../a.txt"}, {"a.txt", "b.txt", "d/a.txt"},
            {"ARCHIVE/A (2).TXT", "ARCHIVE/A.TXT", "ARCHIVE/B.TXT"}, 1);
        // Given by a link or not, the work root and what is in it (the
        // records of running jobs) stay out.
        row("the program's own work folders",
            {"ok=1", "work->../.quillmere", "inside->../.quillmere/" + QString(WorkFolders::STAGING_DIR_NAME)},
            {"ok", "work", "inside"}, {"ARCHIVE/OK"}, 0, {LeftOutReason::WorkFolder, LeftOutReason::WorkFolder});
        // Names that fit, grown past 255 bytes by stand-ins ("©" is
        // "(C)", "ゔ" is "う゛"): those items stay out, the rest is
        // archived. A twin that a number would push past the limit gives up
        // the end of its stem instead, never half a character.
        row("names grown too long",
            {"d/ok=1", "d/" + QString(125, QChar(0xA9)) + ".txt=2", "d/" + QString(83, QChar(0x3094)) + "/f=3",
             "d/" + QString(251, 'A') + ".txt=4", "d/" + QString(251, 'a') + ".txt=5",
             "d/" + QString(83, QChar(0x6587)) + ".txt=6", "d/" + QString(83, QChar(0x6587)) + ".TXT=7"},
            {"d"},
            {"ARCHIVE/D/" + QString(247, 'A') + " (2).TXT", "ARCHIVE/D/" + QString(251, 'A') + ".TXT",
             "ARCHIVE/D/OK", "ARCHIVE/D/" + QString(82, QChar(0x6587)) + " (2).TXT",
             "ARCHIVE/D/" + QString(83, QChar(0x6587)) + ".TXT"},
            2, {LeftOutReason::NameTooLong, LeftOutReason::NameTooLong});
    }

    void stagesTheTree()
    {
        QFETCH(QStringList, tree);
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, entries);
        QFETCH(int, renamed);
        QFETCH(Reasons, leftOut);
        makeTree(tree);
        const StagedContent content = build(dropped);
        QCOMPARE(shownUpper(content), entries);
        if (renamed != kDepends)
            QCOMPARE(int(content.report.renamed.size()), renamed);
        Reasons reasons;
        for (const LeftOutItem& item : content.report.leftOut)
            reasons.push_back(item.reason);
        QVERIFY(reasons == leftOut);
    }

    // Many folders, filled by several stagers at once: every file and
    // folder is counted once, each folder's pair of names that meet is
    // kept apart, and the report lists come out in the order of their
    // paths whichever stager met them.
    void manyFoldersFilledSideBySide()
    {
        QStringList tree;
        const int folders = 60;
        for (int i = 0; i < folders; ++i) {
            const QString folder = QString("d/f%1/g/").arg(i, 2, 10, QChar('0'));
            tree << folder + "a.txt=1" << folder + "A.TXT=2" << folder + "b.txt=3" << folder + "gone->nowhere";
        }
        makeTree(tree);
        const StagedContent content = build({"d"});
        QCOMPARE(content.report.fileCount, 3 * folders);
        QCOMPARE(content.report.folderCount, 1 + 2 * folders);
        const QStringList names = shownUpper(content);
        QCOMPARE(QSet<QString>(names.begin(), names.end()).size(), names.size());
        QCOMPARE(int(content.report.renamed.size()), folders);
        QCOMPARE(int(content.report.leftOut.size()), folders);
        QVERIFY(std::ranges::is_sorted(content.report.renamed, {}, &RenamedItem::original));
        QVERIFY(std::ranges::is_sorted(content.report.leftOut, {}, &LeftOutItem::path));
        // Each linked file still knows its entry once the stagers' lists are one.
        QCOMPARE(int(content.linkedFiles.size()), 3 * folders);
        for (const StagedFile& file : content.linkedFiles)
            QCOMPARE(content.expectedEntries.at(file.entry), file.path);
    }

    // The writer opens each file by its absolute path: one that fits PATH_MAX
    // with its terminating null is staged, one a byte longer is left out.
    void pathsUpToTheWritersLimit_data()
    {
        QTest::addColumn<int>("beyond"); // bytes beyond the longest path the writer opens
        QTest::addColumn<bool>("staged");
        QTest::newRow("the longest") << 0 << true;
        QTest::newRow("a byte longer") << 1 << false;
    }
    void pathsUpToTheWritersLimit()
    {
        QFETCH(int, beyond);
        QFETCH(bool, staged);
        // "<output folder>/archive/d/<rest>" is PATH_MAX - 1 bytes long, and
        // beyond more; rest is folders of 200 bytes with their slash, then
        // the file.
        const WorkFolders folders(m_home->path());
        size_t rest = PATH_MAX - 1 + static_cast<size_t>(beyond) - folders.outputFolder().size()
            - std::string("/archive/d/").size();
        fs::create_directories(source("d"));
        int at = ::open(source("d").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (; rest > 200 && at >= 0; rest -= 200) {
            const std::string name(199, 'n');
            const int below = ::mkdirat(at, name.c_str(), 0700) == 0
                ? ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
            ::close(at);
            at = below;
        }
        QVERIFY(at >= 0);
        const int file = ::openat(at, std::string(rest, 'f').c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(file >= 0);
        ::close(file);
        ::close(at);

        const StagedContent content = build({"d"});

        QCOMPARE(content.report.fileCount, staged ? 1 : 0);
        QCOMPARE(content.report.leftOut.size(), size_t(staged ? 0 : 1));
    }

    // A path in the archive longer than the writer can open: that item is
    // left out and reported, and the rest of the tree is staged.
    void deepPathsAreLeftOut()
    {
        makeTree({"d/shallow.txt=s"});
        const std::string name(250, 'n');
        QVERIFY(makeDeepTree(source("d"), name, 17)); // about 4,250 bytes

        const StagedContent content = build({"d"});
        QCOMPARE(content.report.fileCount, 1);
        QCOMPARE(int(content.report.leftOut.size()), 1);
        QCOMPARE(content.report.leftOut.front().reason, LeftOutReason::PathTooLong);
        QVERIFY(content.report.leftOut.front().path.ends_with(name));
        // Longer than any path: only a removal that never forms one can
        // take it away.
        QCOMPARE(FileManager::removeItem(source("d")), Failure());
    }

    // Staging that fills the work folder's disk fails as a whole, with the
    // disk's own error: the user's file is not to blame, and an archive
    // of what happened to fit would be a partial one. Links take no data
    // but each takes an inode: a disk with few of them fills.
    void aFullWorkFolderFailsTheStaging()
    {
        const std::string small = m_home->path() + "/small";
        fs::create_directories(small);
        if (!m_mounts.mount(small, "size=256k,nr_inodes=32"))
            QSKIP("no permission to mount a small file system");
        QStringList tree;
        for (int i = 0; i < 60; ++i)
            tree << QString("d/f%1.txt=x").arg(i);
        makeTree(tree);
        const WorkFolders folders(small);
        fs::create_directories(folders.stagingFolder());

        const StagedContent content = Util::fixProhibitedCharacters(folders, {source("d")}, [] { return false; });
        m_mounts.unmountAll();
        QCOMPARE(content.workFolderError, ENOSPC);
        QVERIFY(content.workFolderFailure.find(folders.contentFolder()) != std::string::npos);
        QVERIFY(content.report.leftOut.empty());
    }

    void linksStandForTheUsersFiles_data()
    {
        QTest::addColumn<bool>("elsewhere");
        QTest::newRow("on the work folder's file system: hard links") << false;
        QTest::newRow("on another file system: symbolic links") << true;
    }
    // Every file is staged as a link to the user's file, never as a copy:
    // the file itself, or across file systems a symbolic link to its
    // absolute path as reached. Folders are made under their final names.
    // The content keeps each file as it was, for the check after the writer,
    // and the space check counts nothing to copy.
    void linksStandForTheUsersFiles()
    {
        QFETCH(bool, elsewhere);
        const std::string root = elsewhere ? otherFileSystem() : m_home->path() + "/src";
        if (root.empty())
            QSKIP("no permission to mount a file system");
        writeFile(root + "/d/a?.txt", "a");
        writeFile(root + "/d/s:b/b.txt", "bb");
        fs::create_symlink("a?.txt", root + "/d/link.txt");
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());

        const StagedContent content = Util::fixProhibitedCharacters(folders, {root + "/d"}, [] { return false; });

        const std::string staged = folders.contentFolder() + "/d";
        QVERIFY(fs::is_directory(fs::symlink_status(staged + "/s_b")));
        const std::map<std::string, std::string> files = {
            {"a_.txt", root + "/d/a?.txt"}, {"s_b/b.txt", root + "/d/s:b/b.txt"}, {"link.txt", root + "/d/link.txt"}};
        for (const auto& [name, source] : files) {
            struct stat link {}, file {};
            QCOMPARE(::lstat((staged + "/" + name).c_str(), &link), 0);
            QCOMPARE(::stat(source.c_str(), &file), 0);
            if (elsewhere) {
                // Through the link to its folder: shorter than the path.
                QVERIFY2(S_ISLNK(link.st_mode), name.c_str());
                const std::string text = fs::read_symlink(staged + "/" + name).string();
                QVERIFY2(text.starts_with("../../") && text.find("/.links/") != text.npos && text.size() < source.size(),
                         text.c_str());
                QCOMPARE(fs::canonical(staged + "/" + name), fs::canonical(source));
                QCOMPARE(fs::read_symlink(fs::path(staged + "/" + name).parent_path() / fs::path(text).parent_path()),
                         fs::path(source).parent_path());
            } else {
                QVERIFY2(S_ISREG(link.st_mode), name.c_str());
                QCOMPARE(link.st_ino, file.st_ino);
            }
        }
        QCOMPARE(content.report.fileCount, 3);
        QCOMPARE(content.linkedFiles.size(), size_t(3));
        for (const StagedFile& file : content.linkedFiles) {
            QCOMPARE(file.symbolic, elsewhere);
            QVERIFY(file.path.starts_with("archive/d/"));
            struct stat info {};
            QCOMPARE(::stat((folders.outputFolder() + "/" + file.path).c_str(), &info), 0);
            QCOMPARE(std::pair(info.st_ino, info.st_size), std::pair(file.inode, file.size));
        }
        QCOMPARE(SpaceCheck::bytesToCopy({root + "/d"}, SpaceCheck::linksIn(folders.tmpDirectory()), [] { return false; }),
                 uint64_t(0));
        // The probe leaves nothing behind.
        QCOMPARE(QDir(QString::fromStdString(folders.tmpDirectory())).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QString::fromLatin1(WorkFolders::STAGING_DIR_NAME)});
    }

    // A file whose whole path is longer than a symbolic link can hold is
    // linked all the same, through the link to its folder: nothing is
    // copied, and the space check counts nothing. Only a work folder that
    // took no links at all would have every file copied, and counted.
    void aLongPathIsLinkedThroughItsFolder()
    {
        const std::string root = otherFileSystem();
        if (root.empty())
            QSKIP("no permission to mount a file system");
        const std::string name(200, 'n');
        QVERIFY(makeDeepTree(root + "/g", name, 19));
        std::string given = root + "/g";
        for (int depth = 0; depth < 19; ++depth)
            given += "/" + name;
        const std::string longName(250, 'l');
        QVERIFY(given.size() < PATH_MAX && given.size() + 1 + longName.size() >= PATH_MAX);
        const int folder = ::open(given.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(folder >= 0);
        const int file = ::openat(folder, longName.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ::close(folder);
        QVERIFY(file >= 0);
        const std::string data(1000, 'x');
        QCOMPARE(::write(file, data.data(), data.size()), ssize_t(data.size()));
        ::close(file);
        writeFile(given + "/short.txt", "short");
        const WorkFolders folders(m_home->path());
        fs::create_directories(folders.stagingFolder());
        const auto never = [] { return false; };
        SpaceCheck::WorkLinks links = SpaceCheck::linksIn(folders.tmpDirectory());
        QVERIFY(links.hard && links.symbolic);

        QCOMPARE(SpaceCheck::bytesToCopy({given}, links, never), uint64_t(0));
        const StagedContent content = Util::fixProhibitedCharacters(folders, {given}, never);

        QCOMPARE(content.report.fileCount, 3); // with the tree's own deep.txt
        QCOMPARE(content.linkedFiles.size(), size_t(3));
        const std::string staged = folders.contentFolder() + "/" + name;
        for (const std::string& file : {longName, std::string("short.txt")})
            QVERIFY(fs::is_symlink(fs::symlink_status(staged + "/" + file)));
        QCOMPARE(readFile(staged + "/" + longName), data);
        QCOMPARE(readFile(staged + "/short.txt"), std::string("short"));
        links.hard = links.symbolic = false;
        QCOMPARE(SpaceCheck::bytesToCopy({given}, links, never), uint64_t(1000 + 5));
    }

    // The home folder given whole holds the work folder, where the content
    // is built: that folder stays out, or the tree would copy itself.
    void homeFolderLeavesTheWorkFolderOut()
    {
        makeTree({"note.txt=n"});
        const StagedContent content = build({QString::fromStdString(m_home->path())});
        QCOMPARE(content.report.fileCount, 1);
        QVERIFY(shownUpper(content).front().endsWith("/SRC/NOTE.TXT"));
    }
    // So does the runtime folder, which holds the folder in memory.
    void runtimeFolderLeavesTheMemoryRootOut()
    {
        const QByteArray runtime = QFile::encodeName(QString::fromStdString(source("run")));
        const QByteArray before = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime);
        makeTree({"note.txt=n", "run/quillmere/earlier-job/x.txt=x"});
        const StagedContent content = build({"run", "note.txt"});
        qputenv("XDG_RUNTIME_DIR", before);
        QCOMPARE(content.report.fileCount, 1);
        QCOMPARE(shownUpper(content), (QStringList{"ARCHIVE/NOTE.TXT", "ARCHIVE/RUN/"}));
    }
};

QTEST_GUILESS_MAIN(TestUtil)
#include "tst_Util.moc"

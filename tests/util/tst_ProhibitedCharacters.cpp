#include "FileManager.h"
#include "ScratchFolder.h"
#include "StdoutCapture.h"
#include "TreeSnapshot.h"
#include "Util.h"

#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

const std::string kOutput = "out";

QByteArray b(const std::string& text)
{
    return QByteArray::fromStdString(text);
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Lines joined into one text, so that a failed comparison shows them.
QByteArray joined(const Lines& lines)
{
    QByteArray text;
    for (const std::string& line : lines)
        text += QByteArray::fromStdString(line) + '\n';
    return text;
}

Lines sorted(Lines lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The relative paths below folder, sorted; listed independently of the
// file manager under test.
Lines treeOf(const std::string& folder)
{
    Lines paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        paths.push_back(entry.path().string().substr(folder.size() + 1));
    return sorted(paths);
}

// Whichever of two names the file system lists first below folder.
std::string listedFirst(const std::string& folder, const std::string& one, const std::string& other)
{
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name == one || name == other)
            return name;
    }
    return {};
}

} // namespace

class TestProhibitedCharacters : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void replacesProhibitedCharacters_data();
    void replacesProhibitedCharacters();

    void fixesNames_data();
    void fixesNames();
    void fixesFolderWithProhibitedName();
    void fixesNestedProhibitedFolder();
    void keepsFirstOfTwoItemsWithSameFixedName();
    void keepsItemAlreadyNamedLikeFixedName();
    void mergesFoldersWithSameFixedName();
    void leavesEmptyContentFolderQuietly();
    void copiesLinksAsLinks();
    void ignoresProhibitedCharactersInStagingPath();
    void reportsContentFolderThatCannotBeCreated();

    void removesUnnecessaryFile_data();
    void removesUnnecessaryFile();

private:
    std::string content() const { return m_staging + "/" + kOutput + "/archive"; }
    // Runs the fix on the staging folder; returns the lines written.
    Lines fix(const std::string& staging);
    std::string copyFailure(const std::string& target, const std::string& relative) const;

    std::unique_ptr<ScratchFolder> m_dir;
    std::string m_staging;
};

void TestProhibitedCharacters::init()
{
    m_dir = std::make_unique<ScratchFolder>();
    QVERIFY(m_dir->isValid());
    m_staging = m_dir->path() + "/staging";
    ::mkdir(m_staging.c_str(), 0755);
}

void TestProhibitedCharacters::cleanup()
{
    m_dir.reset();
}

Lines TestProhibitedCharacters::fix(const std::string& staging)
{
    StdoutCapture capture;
    Util::fixProhibitedCharacters(staging, kOutput);
    return capture.lines();
}

// The line for a copy refused because its fixed path (below the content
// folder) is taken already.
std::string TestProhibitedCharacters::copyFailure(const std::string& target, const std::string& relative) const
{
    return "on fixProhibitedCharacters error:" + FileManager::describeErrno(EEXIST, content() + "/" + target)
        + ", error fileName: " + relative;
}

void TestProhibitedCharacters::replacesProhibitedCharacters_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("fixed");

    QTest::newRow("backslash") << QByteArray("a\\b") << QByteArray("a_b");
    QTest::newRow("less than") << QByteArray("a<b") << QByteArray("a_b");
    QTest::newRow("greater than") << QByteArray("a>b") << QByteArray("a_b");
    QTest::newRow("colon") << QByteArray("a:b") << QByteArray("a_b");
    QTest::newRow("asterisk") << QByteArray("a*b") << QByteArray("a_b");
    QTest::newRow("question mark") << QByteArray("a?b") << QByteArray("a_b");
    QTest::newRow("double quote") << QByteArray("a\"b") << QByteArray("a_b");
    QTest::newRow("yen sign") << QByteArray("a\xC2\xA5" "b") << QByteArray("a_b");
    QTest::newRow("vertical line") << QByteArray("a|b") << QByteArray("a_b");
    QTest::newRow("all nine") << QByteArray("\\<>:*?\"\xC2\xA5|") << QByteArray("_________");
    QTest::newRow("angle brackets") << QByteArray("a<b>.txt") << QByteArray("a_b_.txt");
    QTest::newRow("same one repeated") << QByteArray("??a??b?") << QByteArray("__a__b_");
    QTest::newRow("yen repeated") << QByteArray("\xC2\xA5\xC2\xA5x\xC2\xA5") << QByteArray("__x_");
    QTest::newRow("underscore stays") << QByteArray("a_b__c") << QByteArray("a_b__c");
    QTest::newRow("nothing to do") << QByteArray("plain name.txt") << QByteArray("plain name.txt");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("slashes stay") << QByteArray("d?/e*/f|g") << QByteArray("d_/e_/f_g");
    QTest::newRow("hidden") << QByteArray(".a:b") << QByteArray(".a_b");
    // U+FF3C U+FF1F U+FFE5 U+FF1A U+FF0A U+FF1C U+FF1E U+FF02 U+FF5C
    QTest::newRow("full-width forms stay")
        << QByteArray("\xEF\xBC\xBC\xEF\xBC\x9F\xEF\xBF\xA5\xEF\xBC\x9A\xEF\xBC\x8A\xEF\xBC\x9C\xEF\xBC\x9E"
                      "\xEF\xBC\x82\xEF\xBD\x9C")
        << QByteArray("\xEF\xBC\xBC\xEF\xBC\x9F\xEF\xBF\xA5\xEF\xBC\x9A\xEF\xBC\x8A\xEF\xBC\x9C\xEF\xBC\x9E"
                      "\xEF\xBC\x82\xEF\xBD\x9C");
    // "メモ: 確認?.txt"
    QTest::newRow("japanese") << QByteArray("\xE3\x83\xA1\xE3\x83\xA2: \xE7\xA2\xBA\xE8\xAA\x8D?.txt")
                              << QByteArray("\xE3\x83\xA1\xE3\x83\xA2_ \xE7\xA2\xBA\xE8\xAA\x8D_.txt");
    // "価格¥一覧|2026"
    QTest::newRow("yen among kanji") << QByteArray("\xE4\xBE\xA1\xE6\xA0\xBC\xC2\xA5\xE4\xB8\x80\xE8\xA6\xA7|2026")
                                     << QByteArray("\xE4\xBE\xA1\xE6\xA0\xBC_\xE4\xB8\x80\xE8\xA6\xA7_2026");
    // Characters whose UTF-8 holds the byte A5 or C2 are not the yen sign:
    // "ュ" (E3 83 A5), "å" (C3 A5), "Â" (C3 82), U+00A0 (C2 A0).
    QTest::newRow("A5 inside other characters") << QByteArray("\xE3\x83\xA5\xC3\xA5\xC3\x82\xC2\xA0")
                                                << QByteArray("\xE3\x83\xA5\xC3\xA5\xC3\x82\xC2\xA0");
    QTest::newRow("decomposed accent stays") << QByteArray("cafe\xCC\x81?") << QByteArray("cafe\xCC\x81_");
    QTest::newRow("invalid bytes stay") << QByteArray("\xff\xfe?\x80") << QByteArray("\xff\xfe_\x80");
    QTest::newRow("lone A5 stays") << QByteArray("x\xA5y") << QByteArray("x\xA5y");
    QTest::newRow("lone C2 stays") << QByteArray("x\xC2") << QByteArray("x\xC2");
    QTest::newRow("yen after a broken sequence") << QByteArray("\xE3\xC2\xA5:") << QByteArray("\xE3__");
}

void TestProhibitedCharacters::replacesProhibitedCharacters()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, fixed);
    QCOMPARE(b(Util::replaceProhibitedCharacters(name.toStdString())), fixed);
}

void TestProhibitedCharacters::fixesNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("fixed");
    QTest::newRow("angle brackets") << QByteArray("a<b>.txt") << QByteArray("a_b_.txt");
    QTest::newRow("repeated") << QByteArray("what??.txt") << QByteArray("what__.txt");
    QTest::newRow("several kinds") << QByteArray("a:b|c\"d\\e*.txt") << QByteArray("a_b_c_d_e_.txt");
    QTest::newRow("yen sign") << QByteArray("\xC2\xA5" "100.txt") << QByteArray("_100.txt");
    QTest::newRow("full-width yen sign") << QByteArray("\xEF\xBF\xA5" "100.txt")
                                         << QByteArray("\xEF\xBF\xA5" "100.txt");
    QTest::newRow("full-width question mark") << QByteArray("why\xEF\xBC\x9F") << QByteArray("why\xEF\xBC\x9F");
    QTest::newRow("underscore") << QByteArray("a_b.txt") << QByteArray("a_b.txt");
    QTest::newRow("plain") << QByteArray("plain.txt") << QByteArray("plain.txt");
    QTest::newRow("hidden") << QByteArray(".config?") << QByteArray(".config_");
    QTest::newRow("DS_Store") << QByteArray(".DS_Store") << QByteArray(".DS_Store");
    QTest::newRow("not UTF-8") << QByteArray("\xff\xfe?.txt") << QByteArray("\xff\xfe_.txt");
}

// One staged file, alone and inside a folder: it comes out once, under its
// fixed name, with its data, and nothing is logged.
void TestProhibitedCharacters::fixesNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, fixed);
    const std::string staged = name.toStdString();
    writeFile(m_staging + "/" + staged, "top " + staged);
    ::mkdir((m_staging + "/folder").c_str(), 0755);
    writeFile(m_staging + "/folder/" + staged, "inner " + staged);
    const TreeSnapshot stagedFile(m_staging + "/" + staged);
    const TreeSnapshot stagedFolder(m_staging + "/folder");

    const Lines lines = fix(m_staging);

    // Inside the folder (copied whole) an item whose name needs no fix is
    // there already: its own copy fails, which does no harm.
    const std::string result = fixed.toStdString();
    const Lines expected = result == staged ? Lines{copyFailure("folder/" + result, "folder/" + staged)} : Lines{};
    QCOMPARE(joined(lines), joined(expected));
    QCOMPARE(joined(treeOf(content())), joined(sorted({result, "folder", "folder/" + result})));
    QCOMPARE(b(readWhole(content() + "/" + result)), b("top " + staged));
    QCOMPARE(b(readWhole(content() + "/folder/" + result)), b("inner " + staged));
    // The staged items stay as they were: the fixed tree is built beside them.
    const std::string fileChanged = stagedFile.unchangedIn(TreeSnapshot(m_staging + "/" + staged));
    QVERIFY2(fileChanged.empty(), fileChanged.c_str());
    const std::string folderChanged = stagedFolder.unchangedIn(TreeSnapshot(m_staging + "/folder"));
    QVERIFY2(folderChanged.empty(), folderChanged.c_str());
}

// a?b holds a plain file and a file with "*": the folder is copied whole
// (plain file included), so the plain file's own copy fails once; the
// starred file is kept only under its fixed name.
void TestProhibitedCharacters::fixesFolderWithProhibitedName()
{
    ::mkdir((m_staging + "/a?b").c_str(), 0755);
    writeFile(m_staging + "/a?b/plain.txt", "plain");
    writeFile(m_staging + "/a?b/c*d.txt", "star");

    const Lines lines = fix(m_staging);

    QCOMPARE(joined(lines), joined(Lines{copyFailure("a_b/plain.txt", "a?b/plain.txt")}));
    QCOMPARE(joined(treeOf(content())), joined(sorted({"a_b", "a_b/plain.txt", "a_b/c_d.txt"})));
    QCOMPARE(b(readWhole(content() + "/a_b/c_d.txt")), QByteArray("star"));
    QCOMPARE(joined(treeOf(m_staging + "/a?b")), joined(sorted({"plain.txt", "c*d.txt"})));
}

// A prohibited folder inside a plain folder arrives twice; the copy under
// its staged name is removed, and its listed items (gone with it) each
// log one removal failure.
void TestProhibitedCharacters::fixesNestedProhibitedFolder()
{
    ::mkdir((m_staging + "/top").c_str(), 0755);
    ::mkdir((m_staging + "/top/s?").c_str(), 0755);
    writeFile(m_staging + "/top/s?/f.txt", "f");
    writeFile(m_staging + "/top/plain.txt", "p");

    const Lines lines = fix(m_staging);

    QCOMPARE(joined(sorted(lines)), joined(sorted({copyFailure("top/s_/f.txt", "top/s?/f.txt"),
                                    copyFailure("top/plain.txt", "top/plain.txt"),
                                    "move unnecessary file error"})));
    QCOMPARE(joined(treeOf(content())), joined(sorted({"top", "top/plain.txt", "top/s_", "top/s_/f.txt"})));
}

void TestProhibitedCharacters::keepsFirstOfTwoItemsWithSameFixedName()
{
    writeFile(m_staging + "/x?y.txt", "question");
    writeFile(m_staging + "/x*y.txt", "star");
    const std::string first = listedFirst(m_staging, "x?y.txt", "x*y.txt");
    const std::string second = first == "x?y.txt" ? "x*y.txt" : "x?y.txt";

    const Lines lines = fix(m_staging);

    QCOMPARE(joined(lines), joined(Lines{copyFailure("x_y.txt", second)}));
    QCOMPARE(joined(treeOf(content())), joined(Lines{"x_y.txt"}));
    QCOMPARE(b(readWhole(content() + "/x_y.txt")), b(readWhole(m_staging + "/" + first)));
}

// Below a folder copied whole, the item already named x_y keeps its place.
void TestProhibitedCharacters::keepsItemAlreadyNamedLikeFixedName()
{
    ::mkdir((m_staging + "/d").c_str(), 0755);
    writeFile(m_staging + "/d/x_y.txt", "underscore");
    writeFile(m_staging + "/d/x?y.txt", "question");

    const Lines lines = fix(m_staging);

    QCOMPARE(joined(sorted(lines)),
             joined(sorted({copyFailure("d/x_y.txt", "d/x_y.txt"), copyFailure("d/x_y.txt", "d/x?y.txt")})));
    QCOMPARE(joined(treeOf(content())), joined(sorted({"d", "d/x_y.txt"})));
    QCOMPARE(b(readWhole(content() + "/d/x_y.txt")), QByteArray("underscore"));
}

// f? and f* both become f_: the first is copied whole, the second's items
// fill in only what is not there yet.
void TestProhibitedCharacters::mergesFoldersWithSameFixedName()
{
    ::mkdir((m_staging + "/f?").c_str(), 0755);
    writeFile(m_staging + "/f?/both.txt", "from f?");
    writeFile(m_staging + "/f?/question-only.txt", "q");
    ::mkdir((m_staging + "/f*").c_str(), 0755);
    writeFile(m_staging + "/f*/both.txt", "from f*");
    writeFile(m_staging + "/f*/star-only.txt", "s");
    const std::string first = listedFirst(m_staging, "f?", "f*");
    const std::string second = first == "f?" ? "f*" : "f?";
    const std::string firstOnly = first == "f?" ? "question-only.txt" : "star-only.txt";

    const Lines lines = fix(m_staging);

    QCOMPARE(joined(sorted(lines)), joined(sorted({copyFailure("f_/both.txt", first + "/both.txt"),
                                    copyFailure("f_/" + firstOnly, first + "/" + firstOnly),
                                    copyFailure("f_", second), copyFailure("f_/both.txt", second + "/both.txt")})));
    QCOMPARE(joined(treeOf(content())),
             joined(sorted({"f_", "f_/both.txt", "f_/question-only.txt", "f_/star-only.txt"})));
    QCOMPARE(b(readWhole(content() + "/f_/both.txt")), b("from " + first));
}

void TestProhibitedCharacters::leavesEmptyContentFolderQuietly()
{
    StdoutCapture capture;
    Util::fixProhibitedCharacters(m_staging, kOutput);
    QCOMPARE(b(capture.text()), QByteArray());
    QVERIFY(FileManager::isDirectory(content()));
    QCOMPARE(joined(treeOf(content())), joined(Lines{}));
}

// A link whose own name is fixed stays a link; removing the copy under its
// staged name must not remove what it points to.
void TestProhibitedCharacters::copiesLinksAsLinks()
{
    ::mkdir((m_staging + "/keep").c_str(), 0755);
    writeFile(m_staging + "/keep/data.txt", "data");
    ::mkdir((m_staging + "/d").c_str(), 0755);
    ::symlink("../keep", (m_staging + "/d/l?").c_str());

    const Lines lines = fix(m_staging);

    QCOMPARE(joined(lines), joined(Lines{copyFailure("keep/data.txt", "keep/data.txt")}));
    QCOMPARE(joined(treeOf(content())), joined(sorted({"d", "d/l_", "keep", "keep/data.txt"})));
    QVERIFY(std::filesystem::is_symlink(content() + "/d/l_"));
    QCOMPARE(b(std::filesystem::read_symlink(content() + "/d/l_").string()), QByteArray("../keep"));
    QCOMPARE(b(readWhole(m_staging + "/keep/data.txt")), QByteArray("data"));
}

// The home folder (and so the staging path) may hold ":" or a quote; only
// the names below the content folder decide what is removed.
void TestProhibitedCharacters::ignoresProhibitedCharactersInStagingPath()
{
    const std::string home = m_dir->path() + "/home:\"odd|";
    ::mkdir(home.c_str(), 0755);
    const std::string staging = home + "/staging";
    ::mkdir(staging.c_str(), 0755);
    writeFile(staging + "/plain.txt", "plain");
    writeFile(staging + "/a?b.txt", "question");
    ::mkdir((staging + "/d").c_str(), 0755);
    writeFile(staging + "/d/e.txt", "e");
    const std::string archive = staging + "/" + kOutput + "/archive";

    const Lines lines = fix(staging);

    const std::string taken = FileManager::describeErrno(EEXIST, archive + "/d/e.txt");
    QCOMPARE(joined(lines), joined(Lines{"on fixProhibitedCharacters error:" + taken + ", error fileName: d/e.txt"}));
    QCOMPARE(joined(treeOf(archive)), joined(sorted({"plain.txt", "a_b.txt", "d", "d/e.txt"})));
}

// When the content folder cannot be made, every copy fails on its own line
// and nothing else happens.
void TestProhibitedCharacters::reportsContentFolderThatCannotBeCreated()
{
    writeFile(m_staging + "/" + kOutput, "a file where the output folder belongs");

    const Lines lines = fix(m_staging);

    const std::string notFolder = FileManager::describeErrno(ENOTDIR, content());
    const std::string notFolderBelow = FileManager::describeErrno(ENOTDIR, content() + "/" + kOutput);
    QCOMPARE(joined(lines), joined(Lines{"create dir error:" + notFolder,
                                         "on fixProhibitedCharacters error:" + notFolderBelow
                                             + ", error fileName: " + kOutput}));
    QCOMPARE(b(readWhole(m_staging + "/" + kOutput)), QByteArray("a file where the output folder belongs"));
}

void TestProhibitedCharacters::removesUnnecessaryFile_data()
{
    QTest::addColumn<QByteArray>("relative");
    QTest::addColumn<bool>("removed");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("file with ?") << QByteArray("a?b") << true << QByteArray();
    QTest::newRow("file with yen sign") << QByteArray("\xC2\xA5") << true << QByteArray();
    QTest::newRow("folder with :") << QByteArray("d:e") << true << QByteArray();
    QTest::newRow("inside folder with :") << QByteArray("d:e/inner") << true << QByteArray();
    QTest::newRow("link with |") << QByteArray("l|") << true << QByteArray();
    QTest::newRow("plain file") << QByteArray("plain") << false << QByteArray();
    QTest::newRow("full-width") << QByteArray("\xEF\xBC\x9F") << false << QByteArray();
    QTest::newRow("missing with *") << QByteArray("gone*") << false << QByteArray("move unnecessary file error");
    QTest::newRow("missing plain") << QByteArray("gone") << false << QByteArray();
}

void TestProhibitedCharacters::removesUnnecessaryFile()
{
    QFETCH(QByteArray, relative);
    QFETCH(bool, removed);
    QFETCH(QByteArray, line);
    // The staging path itself holds prohibited characters: they must not
    // count.
    const std::string staging = m_dir->path() + "/a:b\"c";
    const std::string archive = staging + "/" + kOutput + "/archive";
    FileManager::createDirectory(archive + "/d:e");
    for (const char* name : {"a?b", "\xC2\xA5", "plain", "\xEF\xBC\x9F", "d:e/inner"})
        writeFile(archive + "/" + name, name);
    writeFile(archive + "/target", "target");
    ::symlink("target", (archive + "/l|").c_str());
    const std::string item = archive + "/" + relative.toStdString();
    const bool existed = FileManager::exists(item);

    StdoutCapture capture;
    Util::removeUnnecessaryFile(relative.toStdString(), staging, kOutput, Util::prohibitedCharacters());

    QCOMPARE(b(capture.text()), line.isEmpty() ? QByteArray() : line + '\n');
    QCOMPARE(FileManager::exists(item), existed && !removed);
    QCOMPARE(b(readWhole(archive + "/target")), QByteArray("target"));
    QCOMPARE(b(readWhole(archive + "/plain")), QByteArray("plain"));
}

QTEST_GUILESS_MAIN(TestProhibitedCharacters)
#include "tst_ProhibitedCharacters.moc"

#include "FileManager.h"
#include "PermissionBits.h"
#include "ScratchFolder.h"
#include "TreeSnapshot.h"

#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray b(const std::string& text)
{
    return QByteArray::fromStdString(text);
}

void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644)
{
    std::ofstream(path, std::ios::binary) << content;
    ::chmod(path.c_str(), mode);
}

std::string errorText(const FileManager::Error& error)
{
    return error ? *error : std::string("(no error)");
}

std::string described(int error, const std::string& path)
{
    return std::string(std::strerror(error)) + ": " + path;
}

} // namespace

class TestFileManager : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void removesItem_data();
    void removesItem();
    void removesFolderWithLockedFolders_data();
    void removesFolderWithLockedFolders();
    void removeKeepsPermissionsOfLinkedFiles();
    void removeFailsWhenNothingIsThere();

    void createsDirectory_data();
    void createsDirectory();

    void listsSubpaths();
    void listsEmptyFolder();
    void subpathsOfWhatCannotBeListed_data();
    void subpathsOfWhatCannotBeListed();
    void subpathsOfUnreadableFolder();

    void tellsWhatExists();
    void homeDirectory_data();
    void homeDirectory();
    void pathComponents_data();
    void pathComponents();

private:
    std::unique_ptr<ScratchFolder> m_dir;
    std::string m_top;
    std::string m_savedHome;
    bool m_hadHome = false;
};

void TestFileManager::init()
{
    m_dir = std::make_unique<ScratchFolder>();
    QVERIFY(m_dir->isValid());
    m_top = m_dir->path();
    const char* home = std::getenv("HOME");
    m_hadHome = home != nullptr;
    m_savedHome = home ? home : "";
}

void TestFileManager::cleanup()
{
    m_dir.reset();
    if (m_hadHome)
        ::setenv("HOME", m_savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");
}

void TestFileManager::removesItem_data()
{
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"file", "read-only file", "link to file", "link to folder", "dangling link", "fifo",
                             "empty folder", "tree"})
        QTest::newRow(kind) << QString(kind);
}

// Whatever is removed, only that goes: the target of a link stays.
void TestFileManager::removesItem()
{
    QFETCH(QString, kind);
    const std::string outside = m_top + "/outside";
    ::mkdir(outside.c_str(), 0755);
    writeFile(outside + "/file.txt", "the user's");
    ::mkdir((outside + "/folder").c_str(), 0755);
    writeFile(outside + "/folder/inner.txt", "inner");
    const TreeSnapshot outsideBefore(outside);

    const std::string item = m_top + "/item";
    if (kind == "file")
        writeFile(item, "data");
    else if (kind == "read-only file")
        writeFile(item, "data", 0444);
    else if (kind == "link to file")
        ::symlink((outside + "/file.txt").c_str(), item.c_str());
    else if (kind == "link to folder")
        ::symlink((outside + "/folder").c_str(), item.c_str());
    else if (kind == "dangling link")
        ::symlink("nowhere", item.c_str());
    else if (kind == "fifo")
        ::mkfifo(item.c_str(), 0644);
    else if (kind == "empty folder")
        ::mkdir(item.c_str(), 0755);
    else {
        ::mkdir(item.c_str(), 0755);
        ::mkdir((item + "/a").c_str(), 0755);
        ::mkdir((item + "/a/b").c_str(), 0755);
        writeFile(item + "/a/b/deep.txt", "deep");
        writeFile(item + "/.hidden", "hidden");
        writeFile(item + "/odd \xff name", "odd");
        ::symlink((outside + "/folder").c_str(), (item + "/a/link").c_str());
        ::link((outside + "/file.txt").c_str(), (item + "/hard").c_str());
    }
    QVERIFY(FileManager::exists(item));

    const auto error = FileManager::removeItem(item);

    QVERIFY2(!error, errorText(error).c_str());
    QVERIFY(!FileManager::exists(item));
    const std::string changed = outsideBefore.unchangedIn(TreeSnapshot(outside));
    QVERIFY2(changed.empty(), changed.c_str());
}

void TestFileManager::removesFolderWithLockedFolders_data()
{
    QTest::addColumn<int>("mode");
    for (const int mode : {0555, 0500, 0444, 0300, 0000})
        QTest::addRow("%04o", mode) << mode;
}

// A staged copy of a user's read-only folder must still go away.
void TestFileManager::removesFolderWithLockedFolders()
{
    QFETCH(int, mode);
    const std::string tree = m_top + "/staging";
    ::mkdir(tree.c_str(), 0755);
    ::mkdir((tree + "/locked").c_str(), 0755);
    ::mkdir((tree + "/locked/inner").c_str(), 0755);
    writeFile(tree + "/locked/inner/file.txt", "data", 0444);
    writeFile(tree + "/locked/other.txt", "data", 0644);
    ::chmod((tree + "/locked/inner").c_str(), static_cast<mode_t>(mode));
    ::chmod((tree + "/locked").c_str(), static_cast<mode_t>(mode));
    ::chmod(tree.c_str(), static_cast<mode_t>(mode));

    const PermissionBits bits;
    if (!bits.apply())
        QSKIP("running privileged: permission bits would not stop this process");
    const auto error = FileManager::removeItem(tree);

    QVERIFY2(!error, errorText(error).c_str());
    QVERIFY(!FileManager::exists(tree));
}

// Staged files are hard links to the user's files where possible: removing
// the staging tree must not touch their permissions (shared with the
// user's file), even inside folders it has to open up first.
void TestFileManager::removeKeepsPermissionsOfLinkedFiles()
{
    const std::string user = m_top + "/user";
    ::mkdir(user.c_str(), 0755);
    writeFile(user + "/read-only.txt", "read only", 0444);
    writeFile(user + "/secret.txt", "nobody", 0000);
    writeFile(user + "/script.sh", "#!/bin/sh\n", 0700);
    const std::string tree = m_top + "/staging";
    ::mkdir(tree.c_str(), 0755);
    ::mkdir((tree + "/locked").c_str(), 0755);
    for (const char* name : {"read-only.txt", "secret.txt", "script.sh"})
        QVERIFY(::link((user + "/" + name).c_str(), (tree + "/locked/" + name).c_str()) == 0);
    ::chmod((tree + "/locked").c_str(), 0555);
    const TreeSnapshot before(user);

    FileManager::Error error;
    {
        const PermissionBits bits;
        error = FileManager::removeItem(tree);
    }

    QVERIFY2(!error, errorText(error).c_str());
    QVERIFY(!FileManager::exists(tree));
    const std::string changed = before.unchangedIn(TreeSnapshot(user));
    QVERIFY2(changed.empty(), changed.c_str());
}

void TestFileManager::removeFailsWhenNothingIsThere()
{
    const std::string missing = m_top + "/missing";
    QCOMPARE(b(errorText(FileManager::removeItem(missing))), b(described(ENOENT, missing)));
    const std::string belowFile = m_top + "/file/below";
    writeFile(m_top + "/file", "x");
    QCOMPARE(b(errorText(FileManager::removeItem(belowFile))), b(described(ENOTDIR, belowFile)));
}

void TestFileManager::createsDirectory_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("failingPath");

    QTest::newRow("new") << QByteArray("new") << true << 0 << QByteArray();
    QTest::newRow("intermediates") << QByteArray("a/b/c/d") << true << 0 << QByteArray();
    QTest::newRow("trailing slash") << QByteArray("t/u/") << true << 0 << QByteArray();
    QTest::newRow("doubled slashes") << QByteArray("v//w") << true << 0 << QByteArray();
    QTest::newRow("existing folder") << QByteArray("folder") << true << 0 << QByteArray();
    QTest::newRow("below existing folder") << QByteArray("folder/x/y") << true << 0 << QByteArray();
    QTest::newRow("not UTF-8") << QByteArray("\xff\xfe/\xc0") << true << 0 << QByteArray();
    QTest::newRow("existing file") << QByteArray("file") << false << EEXIST << QByteArray("file");
    QTest::newRow("below a file") << QByteArray("file/sub/more") << false << ENOTDIR << QByteArray("file/sub");
    QTest::newRow("dangling link") << QByteArray("dangling") << false << EEXIST << QByteArray("dangling");
}

void TestFileManager::createsDirectory()
{
    QFETCH(QByteArray, path);
    QFETCH(bool, succeeds);
    QFETCH(int, error);
    QFETCH(QByteArray, failingPath);
    ::mkdir((m_top + "/folder").c_str(), 0755);
    writeFile(m_top + "/folder/kept.txt", "kept");
    writeFile(m_top + "/file", "a file");
    ::symlink("nowhere", (m_top + "/dangling").c_str());
    const std::string full = m_top + "/" + path.toStdString();

    const auto result = FileManager::createDirectory(full);

    if (succeeds) {
        QVERIFY2(!result, errorText(result).c_str());
        QVERIFY(FileManager::isDirectory(full));
        QVERIFY(FileManager::exists(m_top + "/folder/kept.txt"));
    } else {
        QCOMPARE(b(errorText(result)), b(described(error, m_top + "/" + failingPath.toStdString())));
        QVERIFY(!FileManager::isDirectory(full));
    }
    QVERIFY(FileManager::exists(m_top + "/file"));
}

// Every relative path once, each folder before what it holds; links to
// folders are listed, not entered.
void TestFileManager::listsSubpaths()
{
    const std::string top = m_top + "/tree";
    const std::set<std::string> folders = {"a", "a/b", "a/b/c", ".hidden-folder", "empty",
                                           "\xE5\x86\x99\xE7\x9C\x9F"};
    const std::set<std::string> files = {"top.txt", "a/one.txt", "a/b/two.txt", "a/b/c/three.txt",
                                         ".hidden-folder/.dot", "\xE5\x86\x99\xE7\x9C\x9F/caf\xC3\xA9.txt",
                                         "odd \xff\xfe", "new\nline", "a?b*c:d"};
    ::mkdir(top.c_str(), 0755);
    for (const std::string& folder : folders)
        ::mkdir((top + "/" + folder).c_str(), 0755);
    for (const std::string& file : files)
        writeFile(top + "/" + file, file);
    ::mkdir((m_top + "/elsewhere").c_str(), 0755);
    writeFile(m_top + "/elsewhere/not-listed.txt", "x");
    ::symlink("../elsewhere", (top + "/a/link-to-folder").c_str());
    ::symlink("b", (top + "/a/link-to-b").c_str());
    ::symlink("nowhere", (top + "/dangling").c_str());
    std::set<std::string> expected = folders;
    expected.insert(files.begin(), files.end());
    expected.insert({"a/link-to-folder", "a/link-to-b", "dangling"});

    const auto listed = FileManager::subpaths(top);

    QVERIFY(listed);
    const std::set<std::string> unique(listed->begin(), listed->end());
    QCOMPARE(listed->size(), unique.size());
    QCOMPARE(unique, expected);
    std::map<std::string, size_t> position;
    for (size_t i = 0; i < listed->size(); ++i)
        position[(*listed)[i]] = i;
    for (const std::string& relative : *listed) {
        const size_t slash = relative.rfind('/');
        if (slash == std::string::npos)
            continue;
        const std::string parent = relative.substr(0, slash);
        QVERIFY2(position.at(parent) < position.at(relative), (parent + " comes after " + relative).c_str());
    }
}

void TestFileManager::listsEmptyFolder()
{
    const auto listed = FileManager::subpaths(m_top);
    QVERIFY(listed);
    QVERIFY(listed->empty());
}

void TestFileManager::subpathsOfWhatCannotBeListed_data()
{
    QTest::addColumn<QByteArray>("relative");
    QTest::newRow("missing") << QByteArray("missing");
    QTest::newRow("a file") << QByteArray("file");
    QTest::newRow("dangling link") << QByteArray("dangling");
    QTest::newRow("below a file") << QByteArray("file/below");
}

void TestFileManager::subpathsOfWhatCannotBeListed()
{
    QFETCH(QByteArray, relative);
    writeFile(m_top + "/file", "a file");
    ::symlink("nowhere", (m_top + "/dangling").c_str());
    QVERIFY(!FileManager::subpaths(m_top + "/" + relative.toStdString()));
}

void TestFileManager::subpathsOfUnreadableFolder()
{
    const std::string folder = m_top + "/closed";
    ::mkdir(folder.c_str(), 0755);
    writeFile(folder + "/inside.txt", "x");
    ::chmod(folder.c_str(), 0000);
    const PermissionBits bits;
    if (!bits.apply())
        QSKIP("running privileged: permission bits would not stop this process");
    QVERIFY(!FileManager::subpaths(folder));
}

void TestFileManager::tellsWhatExists()
{
    writeFile(m_top + "/file", "x");
    ::symlink("nowhere", (m_top + "/dangling").c_str());
    ::symlink(m_top.c_str(), (m_top + "/link-to-folder").c_str());
    QVERIFY(FileManager::exists(m_top + "/file"));
    QVERIFY(FileManager::exists(m_top + "/dangling"));
    QVERIFY(!FileManager::exists(m_top + "/missing"));
    QVERIFY(FileManager::isDirectory(m_top));
    QVERIFY(!FileManager::isDirectory(m_top + "/file"));
    QVERIFY(!FileManager::isDirectory(m_top + "/dangling"));
    QVERIFY(!FileManager::isDirectory(m_top + "/missing"));
}

void TestFileManager::homeDirectory_data()
{
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain") << QByteArray("/home/user") << QByteArray("/home/user");
    QTest::newRow("trailing slash") << QByteArray("/home/user/") << QByteArray("/home/user");
    QTest::newRow("several trailing slashes") << QByteArray("/home/user///") << QByteArray("/home/user");
    QTest::newRow("root") << QByteArray("/") << QByteArray("/");
    QTest::newRow("colon and quote") << QByteArray("/home/a:\"b") << QByteArray("/home/a:\"b");
    QTest::newRow("not UTF-8") << QByteArray("/home/\xff\xfe/") << QByteArray("/home/\xff\xfe");
}

void TestFileManager::homeDirectory()
{
    QFETCH(QByteArray, home);
    QFETCH(QByteArray, expected);
    ::setenv("HOME", home.constData(), 1);
    QCOMPARE(b(FileManager::homeDirectory()), expected);
}

void TestFileManager::pathComponents_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("last");
    QTest::addColumn<QByteArray>("parent");
    QTest::newRow("absolute") << QByteArray("/a/b/c") << QByteArray("c") << QByteArray("/a/b");
    QTest::newRow("trailing slash") << QByteArray("/a/b/c/") << QByteArray("c") << QByteArray("/a/b");
    QTest::newRow("two trailing slashes") << QByteArray("/a/b//") << QByteArray("b") << QByteArray("/a");
    QTest::newRow("below root") << QByteArray("/a") << QByteArray("a") << QByteArray("/");
    QTest::newRow("below root, slash") << QByteArray("/a/") << QByteArray("a") << QByteArray("/");
    QTest::newRow("relative") << QByteArray("a/b") << QByteArray("b") << QByteArray("a");
    QTest::newRow("single name") << QByteArray("a") << QByteArray("a") << QByteArray(".");
    QTest::newRow("root") << QByteArray("/") << QByteArray("/") << QByteArray("/");
    QTest::newRow("hidden") << QByteArray("/home/u/.config") << QByteArray(".config") << QByteArray("/home/u");
    QTest::newRow("japanese") << QByteArray("/\xE8\xA6\x8B\xE7\xA9\x8D/\xE3\x83\xA1\xE3\x83\xA2: ?.txt")
                              << QByteArray("\xE3\x83\xA1\xE3\x83\xA2: ?.txt")
                              << QByteArray("/\xE8\xA6\x8B\xE7\xA9\x8D");
    QTest::newRow("not UTF-8") << QByteArray("/x/\xff\xfe/") << QByteArray("\xff\xfe") << QByteArray("/x");
}

void TestFileManager::pathComponents()
{
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, last);
    QFETCH(QByteArray, parent);
    QCOMPARE(b(FileManager::lastComponent(path.toStdString())), last);
    QCOMPARE(b(FileManager::parentFolder(path.toStdString())), parent);
}

QTEST_GUILESS_MAIN(TestFileManager)
#include "tst_FileManager.moc"

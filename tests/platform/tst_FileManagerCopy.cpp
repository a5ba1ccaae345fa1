#include "FileManager.h"
#include "PermissionBits.h"
#include "ScratchFolder.h"
#include "TreeSnapshot.h"

#include <QtTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
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

void setTime(const std::string& path, time_t seconds, long nanoseconds)
{
    const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

struct stat lstatOf(const std::string& path)
{
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

// Bytes that do not repeat with a short period, so a copy that drops or
// repeats a block of the buffer shows.
std::string varied(size_t size)
{
    std::string data(size, '\0');
    uint32_t x = 2463534242u;
    for (char& c : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x & 0xff);
    }
    return data;
}

// Gives every item below (and including) top its own modification time with
// nanoseconds, after everything is created: setting times changes no folder.
void stampTree(const std::string& top)
{
    long n = 1;
    setTime(top, 1500000000, 987654321);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top)) {
        setTime(entry.path().string(), 1500000000 + n * 1000, 100000000 + n * 7919);
        ++n;
    }
}

// A user's folder with every kind of item the job meets.
void makeUserTree(const std::string& top)
{
    ::mkdir(top.c_str(), 0755);
    writeFile(top + "/plain.txt", "plain");
    writeFile(top + "/.hidden", "hidden");
    writeFile(top + "/run.sh", "#!/bin/sh\n", 0755);
    writeFile(top + "/readonly.txt", "read only", 0444);
    writeFile(top + "/private.txt", "private", 0600);
    writeFile(top + "/empty.txt", "");
    writeFile(top + "/big.bin", varied(300000));
    writeFile(top + "/odd \xff\xfe\nname.txt", "odd bytes");
    writeFile(top + "/\xE8\xA6\x8B\xE7\xA9\x8D \xC2\xA5.txt", "japanese");
    ::mkdir((top + "/sub").c_str(), 0750);
    ::mkdir((top + "/sub/deeper").c_str(), 0711);
    writeFile(top + "/sub/deeper/leaf.txt", "leaf");
    ::symlink("../plain.txt", (top + "/sub/link-to-file").c_str());
    ::mkdir((top + "/empty-folder").c_str(), 0700);
    ::mkdir((top + "/locked").c_str(), 0755);
    writeFile(top + "/locked/inner.txt", "inner", 0644);
    ::chmod((top + "/locked").c_str(), 0555);
    ::symlink("sub", (top + "/link-to-folder").c_str());
    ::symlink("does-not-exist", (top + "/dangling").c_str());
    ::symlink("/nonexistent/absolute", (top + "/absolute-link").c_str());
    stampTree(top);
}

bool holds(const FileManager::Error& error, const std::string& text)
{
    return error && error->find(text) != std::string::npos;
}

std::string errorText(const FileManager::Error& error)
{
    return error ? *error : std::string("(no error)");
}

} // namespace

class TestFileManagerCopy : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void copiesFile_data();
    void copiesFile();
    void copiesFolderWhole_data();
    void copiesFolderWhole();
    void copiesReadOnlyFoldersWritable_data();
    void copiesReadOnlyFoldersWritable();
    void copiesFifoAsFifo_data();
    void copiesFifoAsFifo();
    void linksWherePossibleAcrossFileSystems();
    void refusesExistingTarget_data();
    void refusesExistingTarget();
    void reportsMissingSource();
    void continuesPastFailingEntry_data();
    void continuesPastFailingEntry();
    void copiesIntoItselfOnce();

    void movesWithinFileSystem_data();
    void movesWithinFileSystem();
    void moveRefusesExistingTarget_data();
    void moveRefusesExistingTarget();
    void movesAcrossFileSystems_data();
    void movesAcrossFileSystems();
    void moveAcrossFileSystemsRefusesExistingTarget();
    void moveReportsMissingSource();

private:
    // A folder on another file system than the temporary folder, or an
    // empty string when the machine has none to offer.
    std::string otherFileSystemFolder();
    // Makes an item of the named kind; false when nothing came of it.
    bool makeItem(const std::string& kind, const std::string& path);

    std::unique_ptr<ScratchFolder> m_dir;
    std::unique_ptr<ScratchFolder> m_otherDir;
    std::string m_top;
};

void TestFileManagerCopy::init()
{
    m_dir = std::make_unique<ScratchFolder>();
    QVERIFY(m_dir->isValid());
    m_top = m_dir->path();
}

void TestFileManagerCopy::cleanup()
{
    m_dir.reset();
    m_otherDir.reset();
}

std::string TestFileManagerCopy::otherFileSystemFolder()
{
    m_otherDir = std::make_unique<ScratchFolder>("/dev/shm/quillmere-test-XXXXXX");
    if (!m_otherDir->isValid() || lstatOf(m_otherDir->path()).st_dev == lstatOf(m_top).st_dev)
        return {};
    return m_otherDir->path();
}

bool TestFileManagerCopy::makeItem(const std::string& kind, const std::string& path)
{
    if (kind == "file") {
        writeFile(path, "existing");
    } else if (kind == "folder") {
        ::mkdir(path.c_str(), 0755);
        writeFile(path + "/inside", "inside");
    } else if (kind == "dangling link") {
        ::symlink("nowhere", path.c_str());
    } else if (kind == "link to folder") {
        ::mkdir((path + "-target").c_str(), 0755);
        ::symlink((path + "-target").c_str(), path.c_str());
    } else if (kind == "tree") {
        makeUserTree(path);
    } else if (kind == "link") {
        ::symlink("../somewhere/else", path.c_str());
    }
    return FileManager::exists(path);
}

void TestFileManagerCopy::copiesFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("link");

    for (const bool link : {false, true}) {
        const char* how = link ? "linked" : "copied";
        QTest::addRow("%s plain 0644", how) << QByteArray("hello\n") << 0644 << link;
        QTest::addRow("%s empty 0600", how) << QByteArray() << 0600 << link;
        QTest::addRow("%s executable 0755", how) << QByteArray("#!/bin/sh\n") << 0755 << link;
        QTest::addRow("%s read-only 0444", how) << QByteArray("fixed") << 0444 << link;
        QTest::addRow("%s group 0640", how) << QByteArray("shared") << 0640 << link;
        QTest::addRow("%s large 0644", how) << QByteArray::fromStdString(varied(1 << 20)) << 0644 << link;
    }
}

void TestFileManagerCopy::copiesFile()
{
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QFETCH(bool, link);

    const std::string source = m_top + "/source.dat";
    const std::string target = m_top + "/target.dat";
    writeFile(source, content.toStdString(), static_cast<mode_t>(mode));
    setTime(source, 1234567890, 123456789);
    const TreeSnapshot before(source);

    const auto error = FileManager::copyItem(
        source, target, link ? FileManager::FileData::LinkWherePossible : FileManager::FileData::Copy);

    QVERIFY2(!error, errorText(error).c_str());
    const std::string mismatch = before.copiedTo(TreeSnapshot(target));
    QVERIFY2(mismatch.empty(), mismatch.c_str());
    const std::string changed = before.unchangedIn(TreeSnapshot(source));
    QVERIFY2(changed.empty(), changed.c_str());
    // A copy has data of its own; a link on the same file system is the
    // very same file.
    QCOMPARE(lstatOf(target).st_ino == lstatOf(source).st_ino, link);
}

void TestFileManagerCopy::copiesFolderWhole_data()
{
    QTest::addColumn<bool>("link");
    QTest::newRow("copied") << false;
    QTest::newRow("linked") << true;
}

void TestFileManagerCopy::copiesFolderWhole()
{
    QFETCH(bool, link);
    const std::string source = m_top + "/user";
    const std::string target = m_top + "/staging";
    makeUserTree(source);
    const TreeSnapshot before(source);

    const auto error = FileManager::copyItem(
        source, target, link ? FileManager::FileData::LinkWherePossible : FileManager::FileData::Copy);

    QVERIFY2(!error, errorText(error).c_str());
    const TreeSnapshot copy(target);
    const std::string mismatch = before.copiedTo(copy);
    QVERIFY2(mismatch.empty(), mismatch.c_str());
    const std::string changed = before.unchangedIn(TreeSnapshot(source));
    QVERIFY2(changed.empty(), changed.c_str());
    for (const auto& [relative, original] : before.items()) {
        const bool sameInode = copy.items().at(relative).info.st_ino == original.info.st_ino;
        const bool expectShared = link && S_ISREG(original.info.st_mode);
        const std::string what = relative + (expectShared ? " is not a link" : " shares its inode");
        QVERIFY2(sameInode == expectShared, what.c_str());
    }
}

void TestFileManagerCopy::copiesReadOnlyFoldersWritable_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("0555") << 0555;
    QTest::newRow("0500") << 0500;
    QTest::newRow("0511") << 0511;
    QTest::newRow("0750") << 0750;
}

// The staging tree is filled and later removed by the application; a
// read-only folder of the user's must not make its copy read-only too.
void TestFileManagerCopy::copiesReadOnlyFoldersWritable()
{
    QFETCH(int, mode);
    const std::string source = m_top + "/user";
    ::mkdir(source.c_str(), 0755);
    ::mkdir((source + "/inner").c_str(), 0755);
    writeFile(source + "/inner/file.txt", "data", 0444);
    ::chmod((source + "/inner").c_str(), static_cast<mode_t>(mode));
    ::chmod(source.c_str(), static_cast<mode_t>(mode));
    stampTree(source);
    const TreeSnapshot before(source);

    const std::string target = m_top + "/staging";
    FileManager::Error error;
    {
        const PermissionBits bits;
        if (!bits.apply())
            QSKIP("running privileged: permission bits would not stop this process");
        error = FileManager::copyItem(source, target);
    }

    QVERIFY2(!error, errorText(error).c_str());
    const std::string mismatch = before.copiedTo(TreeSnapshot(target));
    QVERIFY2(mismatch.empty(), mismatch.c_str());
    const PermissionBits bits;
    QVERIFY(::mkdir((target + "/inner/more").c_str(), 0755) == 0);
    QVERIFY(::rmdir((target + "/inner/more").c_str()) == 0);
}

void TestFileManagerCopy::copiesFifoAsFifo_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("inFolder");
    for (const int mode : {0666, 0644, 0620, 0600}) {
        QTest::addRow("%o alone", mode) << mode << false;
        QTest::addRow("%o in a folder", mode) << mode << true;
    }
}

void TestFileManagerCopy::copiesFifoAsFifo()
{
    QFETCH(int, mode);
    QFETCH(bool, inFolder);
    // The application runs with the usual umask; the copy must not lose
    // permission bits to it.
    const mode_t savedMask = ::umask(022);
    const std::string folder = m_top + "/user";
    ::mkdir(folder.c_str(), 0755);
    const std::string fifo = folder + "/pipe";
    QVERIFY(::mkfifo(fifo.c_str(), 0600) == 0);
    ::chmod(fifo.c_str(), static_cast<mode_t>(mode));
    setTime(fifo, 1400000000, 555555555);
    setTime(folder, 1400000001, 1);
    const std::string source = inFolder ? folder : fifo;
    const std::string target = m_top + (inFolder ? "/copy" : "/pipe-copy");
    const TreeSnapshot before(source);

    const auto error = FileManager::copyItem(source, target);
    ::umask(savedMask);

    QVERIFY2(!error, errorText(error).c_str());
    const std::string copiedFifo = inFolder ? target + "/pipe" : target;
    QVERIFY(S_ISFIFO(lstatOf(copiedFifo).st_mode));
    const std::string mismatch = before.copiedTo(TreeSnapshot(target));
    QVERIFY2(mismatch.empty(), mismatch.c_str());
}

void TestFileManagerCopy::linksWherePossibleAcrossFileSystems()
{
    const std::string other = otherFileSystemFolder();
    if (other.empty())
        QSKIP("no second file system (a writable /dev/shm on another device) is available");
    const std::string source = m_top + "/user";
    makeUserTree(source);
    const TreeSnapshot before(source);
    const std::string target = other + "/staging";

    const auto error = FileManager::copyItem(source, target, FileManager::FileData::LinkWherePossible);

    QVERIFY2(!error, errorText(error).c_str());
    const std::string mismatch = before.copiedTo(TreeSnapshot(target));
    QVERIFY2(mismatch.empty(), mismatch.c_str());
    const std::string changed = before.unchangedIn(TreeSnapshot(source));
    QVERIFY2(changed.empty(), changed.c_str());
    QVERIFY(lstatOf(target + "/plain.txt").st_dev != lstatOf(source + "/plain.txt").st_dev);
}

void TestFileManagerCopy::refusesExistingTarget_data()
{
    QTest::addColumn<QString>("sourceKind");
    QTest::addColumn<QString>("targetKind");
    for (const char* source : {"file", "folder", "link"}) {
        for (const char* target : {"file", "folder", "dangling link", "link to folder"})
            QTest::addRow("%s onto %s", source, target) << QString(source) << QString(target);
    }
}

void TestFileManagerCopy::refusesExistingTarget()
{
    QFETCH(QString, sourceKind);
    QFETCH(QString, targetKind);
    const std::string source = m_top + "/source";
    const std::string target = m_top + "/target";
    QVERIFY(makeItem(sourceKind.toStdString(), source));
    QVERIFY(makeItem(targetKind.toStdString(), target));
    const TreeSnapshot sourceBefore(source);
    const TreeSnapshot targetBefore(target);

    for (const bool link : {false, true}) {
        const auto error = FileManager::copyItem(
            source, target, link ? FileManager::FileData::LinkWherePossible : FileManager::FileData::Copy);
        QVERIFY2(holds(error, std::strerror(EEXIST)) && holds(error, target), errorText(error).c_str());
    }
    const std::string sourceChanged = sourceBefore.unchangedIn(TreeSnapshot(source));
    QVERIFY2(sourceChanged.empty(), sourceChanged.c_str());
    const std::string targetChanged = targetBefore.unchangedIn(TreeSnapshot(target));
    QVERIFY2(targetChanged.empty(), targetChanged.c_str());
}

void TestFileManagerCopy::reportsMissingSource()
{
    const std::string source = m_top + "/missing";
    const std::string target = m_top + "/target";
    const auto error = FileManager::copyItem(source, target);
    QCOMPARE(b(errorText(error)), b(std::string(std::strerror(ENOENT)) + ": " + source));
    QVERIFY(!FileManager::exists(target));
}

void TestFileManagerCopy::continuesPastFailingEntry_data()
{
    QTest::addColumn<bool>("unreadable");
    QTest::newRow("sockets") << false;
    QTest::newRow("unreadable files") << true;
}

// One item that cannot be copied must not cost the user the rest of the
// folder; the first failure (in listing order) is the one reported.
void TestFileManagerCopy::continuesPastFailingEntry()
{
    QFETCH(bool, unreadable);
    const std::string source = m_top + "/user";
    ::mkdir(source.c_str(), 0755);
    ::mkdir((source + "/sub").c_str(), 0755);
    writeFile(source + "/sub/kept.txt", "kept");
    for (const char* name : {"a.txt", "m.txt", "z.txt"})
        writeFile(source + "/" + name, name);
    for (const char* name : {"bad1", "bad2"}) {
        const std::string bad = source + "/" + name;
        if (unreadable)
            writeFile(bad, "secret", 0000);
        else
            QVERIFY(::mknod(bad.c_str(), S_IFSOCK | 0644, 0) == 0);
    }
    std::string firstBad;
    for (const auto& entry : std::filesystem::directory_iterator(source)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("bad", 0) == 0) {
            firstBad = entry.path().string();
            break;
        }
    }
    const std::string target = m_top + "/staging";

    FileManager::Error error;
    {
        const PermissionBits bits;
        if (unreadable && !bits.apply())
            QSKIP("running privileged: permission bits would not stop this process");
        error = FileManager::copyItem(source, target);
    }

    QVERIFY2(holds(error, firstBad), errorText(error).c_str());
    if (unreadable)
        QCOMPARE(b(*error), b(std::string(std::strerror(EACCES)) + ": " + firstBad));
    for (const char* name : {"a.txt", "m.txt", "z.txt"})
        QVERIFY2(FileManager::exists(target + "/" + name), name);
    QVERIFY(FileManager::exists(target + "/sub/kept.txt"));
}

// Copying a folder into itself (the home folder dropped on the window, with
// the staging folder below it) copies everything once and leaves out the
// copy itself, instead of copying the copy until the paths grow too long.
void TestFileManagerCopy::copiesIntoItselfOnce()
{
    const std::string source = m_top + "/user";
    ::mkdir(source.c_str(), 0755);
    writeFile(source + "/file.txt", "data");
    ::mkdir((source + "/sub").c_str(), 0755);
    const std::string target = source + "/sub/copy";

    const auto error = FileManager::copyItem(source, target);

    QVERIFY2(!error, errorText(error).c_str());
    QVERIFY(FileManager::exists(target + "/file.txt"));
    QVERIFY(FileManager::exists(target + "/sub"));
    QVERIFY(!FileManager::exists(target + "/sub/copy"));
}

void TestFileManagerCopy::movesWithinFileSystem_data()
{
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"file", "tree", "link", "dangling link"})
        QTest::newRow(kind) << QString(kind);
}

void TestFileManagerCopy::movesWithinFileSystem()
{
    QFETCH(QString, kind);
    const std::string source = m_top + "/source";
    const std::string target = m_top + "/moved";
    QVERIFY(makeItem(kind.toStdString(), source));
    const TreeSnapshot before(source);

    const auto error = FileManager::moveItem(source, target);

    QVERIFY2(!error, errorText(error).c_str());
    QVERIFY(!FileManager::exists(source));
    // Within one file system the items themselves move: same inodes.
    const std::string changed = before.unchangedIn(TreeSnapshot(target));
    QVERIFY2(changed.empty(), changed.c_str());
}

void TestFileManagerCopy::moveRefusesExistingTarget_data()
{
    QTest::addColumn<QString>("sourceKind");
    QTest::addColumn<QString>("targetKind");
    for (const char* source : {"file", "folder"}) {
        for (const char* target : {"file", "folder", "dangling link"})
            QTest::addRow("%s onto %s", source, target) << QString(source) << QString(target);
    }
}

void TestFileManagerCopy::moveRefusesExistingTarget()
{
    QFETCH(QString, sourceKind);
    QFETCH(QString, targetKind);
    const std::string source = m_top + "/source";
    const std::string target = m_top + "/target";
    QVERIFY(makeItem(sourceKind.toStdString(), source));
    QVERIFY(makeItem(targetKind.toStdString(), target));
    const TreeSnapshot sourceBefore(source);
    const TreeSnapshot targetBefore(target);

    const auto error = FileManager::moveItem(source, target);

    QVERIFY2(holds(error, std::strerror(EEXIST)) && holds(error, target), errorText(error).c_str());
    const std::string sourceChanged = sourceBefore.unchangedIn(TreeSnapshot(source));
    QVERIFY2(sourceChanged.empty(), sourceChanged.c_str());
    const std::string targetChanged = targetBefore.unchangedIn(TreeSnapshot(target));
    QVERIFY2(targetChanged.empty(), targetChanged.c_str());
}

void TestFileManagerCopy::movesAcrossFileSystems_data()
{
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"file", "tree", "link"})
        QTest::newRow(kind) << QString(kind);
}

void TestFileManagerCopy::movesAcrossFileSystems()
{
    QFETCH(QString, kind);
    const std::string other = otherFileSystemFolder();
    if (other.empty())
        QSKIP("no second file system (a writable /dev/shm on another device) is available");
    const std::string source = m_top + "/source";
    const std::string target = other + "/moved";
    QVERIFY(makeItem(kind.toStdString(), source));
    if (kind == "file")
        setTime(source, 1300000000, 424242424);
    const TreeSnapshot before(source);

    const auto error = FileManager::moveItem(source, target);

    QVERIFY2(!error, errorText(error).c_str());
    QVERIFY(!FileManager::exists(source));
    const std::string mismatch = before.copiedTo(TreeSnapshot(target));
    QVERIFY2(mismatch.empty(), mismatch.c_str());
}

void TestFileManagerCopy::moveAcrossFileSystemsRefusesExistingTarget()
{
    const std::string other = otherFileSystemFolder();
    if (other.empty())
        QSKIP("no second file system (a writable /dev/shm on another device) is available");
    const std::string source = m_top + "/archive.zip";
    const std::string target = other + "/archive.zip";
    writeFile(source, "new archive");
    writeFile(target, "the user's older file");
    const TreeSnapshot sourceBefore(source);
    const TreeSnapshot targetBefore(target);

    const auto error = FileManager::moveItem(source, target);

    QVERIFY2(holds(error, std::strerror(EEXIST)) && holds(error, target), errorText(error).c_str());
    const std::string sourceChanged = sourceBefore.unchangedIn(TreeSnapshot(source));
    QVERIFY2(sourceChanged.empty(), sourceChanged.c_str());
    const std::string targetChanged = targetBefore.unchangedIn(TreeSnapshot(target));
    QVERIFY2(targetChanged.empty(), targetChanged.c_str());
}

void TestFileManagerCopy::moveReportsMissingSource()
{
    const std::string source = m_top + "/missing";
    const std::string target = m_top + "/target";
    const auto error = FileManager::moveItem(source, target);
    QCOMPARE(b(errorText(error)), b(std::string(std::strerror(ENOENT)) + ": " + source));
    QVERIFY(!FileManager::exists(target));
}

QTEST_GUILESS_MAIN(TestFileManagerCopy)
#include "tst_FileManagerCopy.moc"

// Moving the finished archive and staging the user's files never replace
// what is already there, and work across file systems.
#include "FileManager.h"
#include "OpenFolder.h"
#include "PathText.h"
#include "Privileges.h"
#include "SyscallRefusal.h"
#include "TestFiles.h"
#include "TmpfsMounts.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

namespace fs = std::filesystem;

namespace {

QByteArray text(const Failure& error) { return error ? QByteArray::fromStdString(*error) : "(no error)"; }
QByteArray text(const std::optional<FileManager::CopyFailure>& error)
{
    return text(error ? Failure(error->description) : std::nullopt);
}
QByteArray described(int error, const std::string& path)
{
    return QByteArray::fromStdString(describeErrno(error, path));
}

struct stat statOf(const std::string& path)
{
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info;
}

// How a file looks to its user: permissions, modification time and content.
std::string look(const std::string& path)
{
    const struct stat info = statOf(path);
    if (!S_ISREG(info.st_mode))
        return info.st_mode == 0 ? "(nothing)" : "(not a file)";
    return std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec) + " "
        + std::to_string(info.st_mode & 07777) + " " + readFile(path);
}

} // namespace

class TestFileManager : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_top, m_other; // m_other: on another file system

    std::string top() const { return QFile::encodeName(m_top->path()).toStdString(); }
    std::string other() const { return QFile::encodeName(m_other->path()).toStdString(); }
    std::string user() const { return top() + "/user"; }

private slots:
    // A user's file and a link to it, with one modification time. Tests run as root in
    // CI, where overriding permissions would hide a read-only file that
    // cannot be copied: this thread gives that up.
    void init()
    {
        QVERIFY(Privileges::dropFileOverride());
        // As the application usually runs: a copy must not lose permission bits to it.
        ::umask(022);
        m_top = std::make_unique<QTemporaryDir>();
        m_other = std::make_unique<QTemporaryDir>("/dev/shm/quillmere-test-XXXXXX");
        writeFile(user() + "/readonly.txt", "read only\n");
        fs::permissions(user() + "/readonly.txt", fs::perms(0444));
        fs::create_symlink("readonly.txt", user() + "/link");
        const QStringList touch{"-exec", "touch", "-h", "-d", "@1234567890.123456789", "{}", "+"};
        QCOMPARE(QProcess::execute("find", QStringList{m_top->path() + "/user"} + touch), 0);
    }

    // QTemporaryDir cannot remove trees deeper than any path.
    void cleanup()
    {
        FileManager::removeItem(top());
        FileManager::removeItem(other());
    }

    void moveNeverReplaces_data()
    {
        QTest::addColumn<bool>("occupied");
        QTest::addColumn<bool>("elsewhere");
        QTest::addColumn<bool>("stopped"); // the job is stopped while it moves
        QTest::newRow("within a file system: the very file") << false << false << false;
        QTest::newRow("to another file system: copied, then removed") << false << true << false;
        QTest::newRow("never onto a file") << true << false << false;
        QTest::newRow("never onto a file on another file system") << true << true << false;
        QTest::newRow("a copy stopped on the way leaves nothing there") << false << true << true;
    }
    // The finished archive goes beside the user's items: whatever is there
    // stays, and so does what was to be moved.
    void moveNeverReplaces()
    {
        QFETCH(bool, occupied);
        QFETCH(bool, elsewhere);
        QFETCH(bool, stopped);
        const std::string target = (elsewhere ? other() : top()) + "/moved";
        if (occupied)
            writeFile(target, "older\n");
        const std::string archive = user() + "/readonly.txt";
        const std::string source = look(archive), there = look(target);
        const ino_t inode = statOf(archive).st_ino;

        const QByteArray expected = occupied ? described(EEXIST, target)
            : stopped                        ? described(ECANCELED, target)
                                             : "(no error)";
        QCOMPARE(text(FileManager::moveItem(archive, target, [stopped](uint64_t) { return stopped; })), expected);
        QCOMPARE(look(archive), occupied || stopped ? source : "(nothing)");
        QCOMPARE(look(target), occupied ? there : stopped ? "(nothing)" : source);
        if (!occupied && !elsewhere)
            QCOMPARE(statOf(target).st_ino, inode);
    }

    void aDiskThatKeepsNoModesStillTakesTheArchive_data()
    {
        QTest::addColumn<long>("call");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("FAT: no permissions") << long(SYS_fchmod) << EPERM << true;
        QTest::newRow("a driver without permissions") << long(SYS_fchmod) << ENOSYS << true;
        QTest::newRow("a driver without times") << long(SYS_utimensat) << EOPNOTSUPP << true;
        QTest::newRow("the disk fails") << long(SYS_fchmod) << EIO << false;
    }
    // A stick formatted for Windows keeps no permissions, and may refuse
    // to take them: the archive copied onto it is there all the same. A
    // disk that fails is a failure, and the half-made copy goes.
    void aDiskThatKeepsNoModesStillTakesTheArchive()
    {
        QFETCH(long, call);
        QFETCH(int, error);
        QFETCH(bool, delivered);
        const std::string archive = user() + "/readonly.txt";
        const std::string target = other() + "/moved";
        const std::string content = readFile(archive);

        const std::optional<std::string> answer = SyscallRefusal::run({{call, error}}, [&] {
            return text(FileManager::moveItem(archive, target)).toStdString();
        });
        QVERIFY(answer);
        QCOMPARE(QByteArray::fromStdString(*answer), delivered ? "(no error)" : described(error, target));
        if (delivered)
            QCOMPARE(readFile(target), content);
        else
            QCOMPARE(look(target), std::string("(nothing)"));
        QCOMPARE(FileManager::exists(archive), !delivered);
    }

    void aCopyOntoAnotherDiskWaitsForIt_data()
    {
        QTest::addColumn<int>("error"); // what the disk answers when waited for; 0 for nothing
        QTest::addColumn<bool>("moved");
        QTest::newRow("written out") << 0 << true;
        QTest::newRow("a file system that cannot be waited for") << ENOSYS << true;
        QTest::newRow("the disk fails") << EIO << false;
        QTest::newRow("the disk is full") << ENOSPC << false;
    }
    // The archive copied onto a stick is written out as it goes: what the
    // disk fails with then fails the move at once, and the source stays.
    void aCopyOntoAnotherDiskWaitsForIt()
    {
        QFETCH(int, error);
        QFETCH(bool, moved);
        const std::string archive = user() + "/large.zip";
        const std::string content(9 << 20, 'z'); // more than is written before the first wait
        writeFile(archive, content);
        const std::string target = other() + "/moved";

        std::vector<SyscallRefusal::Refusal> refusals;
        if (error != 0)
            refusals = {{SYS_sync_file_range, error}};
        const std::optional<std::string> answer = SyscallRefusal::run(refusals, [&] {
            return text(FileManager::moveItem(archive, target)).toStdString();
        });
        QVERIFY(answer);
        QCOMPARE(QByteArray::fromStdString(*answer), moved ? "(no error)" : described(error, target));
        QCOMPARE(FileManager::exists(target), moved);
        QCOMPARE(FileManager::exists(archive), !moved);
        if (moved)
            QVERIFY(readFile(target) == content);
    }

    void linkOrCopyNeverReplaces_data()
    {
        QTest::addColumn<bool>("elsewhere");
        QTest::newRow("hard-linked") << false;
        QTest::newRow("hard link refused across file systems: a symbolic link") << true;
    }
    // Staging links a user's file where it can: the file itself under a
    // second name, or across file systems a symbolic link to the path it
    // was reached by (a link to the file here), never its data again.
    void linkOrCopyNeverReplaces()
    {
        QFETCH(bool, elsewhere);
        const std::string staging = elsewhere ? other() : top(), item = user() + "/readonly.txt";
        const auto from = OpenFolder::open(*OpenFolder::working(), user(), user());
        const auto to = OpenFolder::open(*OpenFolder::working(), staging, staging);

        const FileManager::Placed placed = FileManager::linkOrCopyFile(*from, "link", *to, "staged");
        QCOMPARE(text(placed.failure), "(no error)");
        QCOMPARE(placed.placement,
                 elsewhere ? FileManager::Placement::SymbolicLink : FileManager::Placement::HardLink);
        if (elsewhere)
            QCOMPARE(fs::read_symlink(staging + "/staged").string(), user() + "/link");
        else
            QCOMPARE(look(staging + "/staged"), look(item));
        QCOMPARE(readFile(staging + "/staged"), readFile(item));
        QCOMPARE(statOf(staging + "/staged").st_ino == statOf(item).st_ino, !elsewhere);
        QCOMPARE(text(FileManager::linkOrCopyFile(*from, "readonly.txt", *to, "staged").failure),
                 described(EEXIST, staging + "/staged"));
    }

    void hardLinkImpossible_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("impossible");
        QTest::newRow("another file system") << EXDEV << true;
        QTest::newRow("no hard links there, or a protected file") << EPERM << true;
        QTest::newRow("too many links") << EMLINK << true;
        QTest::newRow("not supported") << EOPNOTSUPP << true;
        QTest::newRow("missing: the user's file") << ENOENT << false;
        QTest::newRow("unreadable: the user's file") << EACCES << false;
        QTest::newRow("no space: the work folder") << ENOSPC << false;
    }
    // Only a link that cannot be made lets another stand in; a missing or
    // unreadable file is the user's, a full disk the work folder's.
    void hardLinkImpossible()
    {
        QFETCH(int, error);
        QFETCH(bool, impossible);
        QCOMPARE(FileManager::hardLinkImpossible(error), impossible);
    }

    void aPathTooLongForALinkIsCopied_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("copied whole, with its permissions") << "";
        QTest::newRow("the target's file system is full: ours") << "target full";
        QTest::newRow("the source cannot be read: the user's") << "unreadable";
    }
    // Where no link can stand for a file (its path is too long for a
    // symbolic link) the data is copied whole, with its permissions.
    // Staging fails the job for a failure of its own folder, and leaves the
    // item out for a failure of the user's file: the copy must say which.
    void aPathTooLongForALinkIsCopied()
    {
        QFETCH(QString, fault);
        TmpfsMounts mounts;
        const std::string staging = fault.isEmpty() ? other() : top() + "/full";
        fs::create_directories(staging);
        if (!fault.isEmpty() && !mounts.mount(staging, "size=64k"))
            QSKIP("no permission to mount a small file system");
        const std::string name(200, 'd');
        QVERIFY(makeDeepTree(user(), name, 21)); // 4,200 bytes
        std::shared_ptr<const OpenFolder> from = OpenFolder::open(*OpenFolder::working(), user(), user());
        for (int depth = 0; depth < 21; ++depth)
            from = OpenFolder::open(*from, name, from->pathOf(name));
        QVERIFY(from && from->path().size() > PATH_MAX);
        const int file = ::openat(from->fd(), "data", O_WRONLY | O_CREAT | O_CLOEXEC, fault == "unreadable" ? 0 : 0640);
        QVERIFY(file >= 0);
        // Larger than the small file system holds.
        const std::string data(fault.isEmpty() ? 9 : 1 << 20, 'x');
        QCOMPARE(::write(file, data.data(), data.size()), ssize_t(data.size()));
        ::close(file);
        const auto to = OpenFolder::open(*OpenFolder::working(), staging, staging);

        const FileManager::Placed placed = FileManager::linkOrCopyFile(*from, "data", *to, "staged");
        QCOMPARE(placed.placement, FileManager::Placement::Copy);
        if (!fault.isEmpty()) {
            mounts.unmountAll();
            QVERIFY(placed.failure);
            QCOMPARE(placed.failure->atTarget, fault == "target full");
            QCOMPARE(placed.failure->error, fault == "target full" ? ENOSPC : EACCES);
            return;
        }
        QCOMPARE(text(placed.failure), "(no error)");
        const struct stat copy = statOf(staging + "/staged");
        QVERIFY(S_ISREG(copy.st_mode));
        QCOMPARE(copy.st_mode & 07777, mode_t(0640));
        QCOMPARE(readFile(staging + "/staged"), data);
    }

    // A tree deeper than the longest path the system takes, with folders
    // that refuse their owner, goes whole: nothing of it is left.
    void removesTreesOfAnyDepth()
    {
        const std::string root = top() + "/deep";
        const std::string name(200, 'd');
        QVERIFY(makeDeepTree(root, name, 40)); // 8,000 bytes deep
        // Folders that refuse their owner on the way: one cannot be
        // written, one cannot even be opened.
        std::string path = root;
        for (int depth = 0; depth < 3; ++depth)
            path += "/" + name;
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(root + "/" + name, fs::perms::none);
        fs::permissions(root, fs::perms::owner_read | fs::perms::owner_exec);

        QCOMPARE(text(FileManager::removeItem(root)), "(no error)");
        QVERIFY(!fs::exists(root));
    }

    void localPermissions_data()
    {
        QTest::addColumn<QString>("folder"); // "" for the working folder
        QTest::addColumn<bool>("local");
        QTest::newRow("tmpfs") << "/dev/shm" << true;
        QTest::newRow("proc") << "/proc" << false;
        QTest::newRow("sysfs") << "/sys" << false;
        QTest::newRow("the working folder, whose names are whole paths") << "" << false;
    }
    // Staging trusts a file's mode for its owner only where the kernel's
    // generic check is the whole check.
    void localPermissions()
    {
        QFETCH(QString, folder);
        QFETCH(bool, local);
        const std::string path = folder.toStdString();
        const auto opened = path.empty() ? OpenFolder::working() : OpenFolder::open(*OpenFolder::working(), path, path);
        QVERIFY(opened);
        QCOMPARE(opened->hasLocalPermissions(), local);
    }

    void fileAddresses_data()
    {
        QTest::addColumn<QByteArray>("address");
        QTest::addColumn<QByteArray>("path"); // "-": not a local file's address
        QTest::newRow("escapes, to bytes that are not UTF-8") << QByteArray("file:///tmp/a%20b/%E8%a6%8b%FF") << QByteArray("/tmp/a b/\xe8\xa6\x8b\xff");
        QTest::newRow("this host") << QByteArray("file://localhost/tmp") << QByteArray("/tmp");
        QTest::newRow("one slash") << QByteArray("file:/tmp/x") << QByteArray("/tmp/x");
        QTest::newRow("scheme and host in capitals") << QByteArray("FILE://LocalHost/tmp") << QByteArray("/tmp");
        QTest::newRow("a slash inside a name") << QByteArray("file:///tmp/a%2Fb") << QByteArray("-");
        QTest::newRow("another host") << QByteArray("file://server/share") << QByteArray("-");
        QTest::newRow("a NUL byte") << QByteArray("file:///tmp/a%00b") << QByteArray("-");
        QTest::newRow("a lone percent sign") << QByteArray("file:///tmp/100%") << QByteArray("-");
        QTest::newRow("not an escape") << QByteArray("file:///tmp/%zz") << QByteArray("-");
        QTest::newRow("relative") << QByteArray("file:tmp") << QByteArray("-");
        QTest::newRow("a plain path") << QByteArray("/tmp/file:x") << QByteArray("-");
    }
    void fileAddresses()
    {
        QFETCH(QByteArray, address);
        QFETCH(QByteArray, path);
        const std::optional<std::string> local = PathText::fromFileAddress(address.toStdString());
        QCOMPARE(local ? QByteArray::fromStdString(*local) : QByteArray("-"), path);
    }
};

QTEST_GUILESS_MAIN(TestFileManager)
#include "tst_FileManager.moc"

// Moving the finished archive and staging the user's files never replace
// what is already there, and work across file systems.
#include "FileManager.h"
#include "OpenFolder.h"
#include "TestFiles.h"
#include "TmpfsMounts.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
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

// How an item looks to its user: permissions (not a folder's: every copy of
// a folder is open to its owner), modification time, and a file's content,
// a link's target or a folder's items, sorted by name.
std::string look(const fs::path& path)
{
    const struct stat info = statOf(path);
    if (info.st_mode == 0)
        return "(nothing)";
    std::string text = std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
    if (S_ISLNK(info.st_mode))
        return text + " -> " + fs::read_symlink(path).string();
    if (S_ISREG(info.st_mode)) {
        std::ifstream file(path, std::ios::binary);
        const std::string content{std::istreambuf_iterator<char>(file), {}};
        return text + " " + std::to_string(info.st_mode & 07777) + " " + content;
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        text += "\n" + name + ": " + look(path / name);
    return text;
}

} // namespace

class TestFileManager : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_top, m_other; // m_other: on another file system

    std::string top() const { return QFile::encodeName(m_top->path()).toStdString(); }
    std::string other() const { return QFile::encodeName(m_other->path()).toStdString(); }
    std::string user() const { return top() + "/user"; }

private slots:
    // A user's folder, all with one modification time. Tests run as root in
    // CI, where overriding permissions would hide a read-only file that
    // cannot be copied: this thread gives that up.
    void init()
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        ::syscall(SYS_capget, &header, caps);
        caps[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        QCOMPARE(::syscall(SYS_capset, &header, caps), 0L);
        // As the application usually runs: a copy must not lose permission bits to it.
        ::umask(022);
        m_top = std::make_unique<QTemporaryDir>();
        m_other = std::make_unique<QTemporaryDir>("/dev/shm/quillmere-test-XXXXXX");
        fs::create_directories(user() + "/sub \xff");
        std::ofstream(user() + "/readonly.txt") << "read only\n";
        fs::permissions(user() + "/readonly.txt", fs::perms(0444));
        std::ofstream(user() + "/sub \xff/run.sh") << "#!/bin/sh\n";
        fs::permissions(user() + "/sub \xff/run.sh", fs::perms(0775));
        fs::create_symlink("readonly.txt", user() + "/link");
        const QStringList touch{"-exec", "touch", "-h", "-d", "@1234567890.123456789", "{}", "+"};
        QCOMPARE(QProcess::execute("find", QStringList{m_top->path() + "/user"} + touch), 0);
    }

    // QTemporaryDir cannot remove names that are not UTF-8, nor trees
    // deeper than any path.
    void cleanup()
    {
        FileManager::removeItem(top());
        FileManager::removeItem(other());
    }

    void moveNeverReplaces_data()
    {
        QTest::addColumn<bool>("occupied");
        QTest::addColumn<bool>("elsewhere");
        QTest::newRow("within a file system: the very file") << false << false;
        QTest::newRow("to another file system: copied, then removed") << false << true;
        QTest::newRow("never onto a file") << true << false;
        QTest::newRow("never onto a file on another file system") << true << true;
    }
    // The finished archive goes beside the user's items: whatever is there
    // stays, and so does what was to be moved.
    void moveNeverReplaces()
    {
        QFETCH(bool, occupied);
        QFETCH(bool, elsewhere);
        const std::string target = (elsewhere ? other() : top()) + "/moved";
        if (occupied)
            std::ofstream(target) << "older\n";
        const std::string archive = user() + "/readonly.txt";
        const std::string source = look(archive), there = look(target);
        const ino_t inode = statOf(archive).st_ino;

        QCOMPARE(text(FileManager::moveItem(archive, target)), occupied ? described(EEXIST, target) : "(no error)");
        QCOMPARE(look(archive), occupied ? source : "(nothing)");
        QCOMPARE(look(target), occupied ? there : source);
        if (!occupied && !elsewhere)
            QCOMPARE(statOf(target).st_ino, inode);
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

    void aCopyTellsWhichSideFailed_data()
    {
        QTest::addColumn<bool>("targetFull");
        QTest::newRow("the target's file system is full: ours") << true;
        QTest::newRow("the source cannot be read: the user's") << false;
    }
    // A file whose path is too long for a symbolic link is copied. Staging
    // fails the job for a failure of its own folder, and leaves the item
    // out for a failure of the user's file: the copy must say which.
    void aCopyTellsWhichSideFailed()
    {
        QFETCH(bool, targetFull);
        const std::string full = top() + "/full";
        fs::create_directories(full);
        TmpfsMounts mounts;
        if (!mounts.mount(full, "size=64k"))
            QSKIP("no permission to mount a small file system");
        const std::string name(200, 'd');
        QVERIFY(makeDeepTree(user(), name, 21)); // 4,200 bytes
        std::shared_ptr<const OpenFolder> from = OpenFolder::open(*OpenFolder::working(), user(), user());
        for (int depth = 0; depth < 21; ++depth)
            from = OpenFolder::open(*from, name, from->pathOf(name));
        QVERIFY(from && from->path().size() > PATH_MAX);
        const int file = ::openat(from->fd(), "large.bin", O_WRONLY | O_CREAT | O_CLOEXEC, targetFull ? 0600 : 0);
        QVERIFY(file >= 0);
        const std::string data(1 << 20, 'x');
        QCOMPARE(::write(file, data.data(), data.size()), ssize_t(data.size()));
        ::close(file);
        const auto to = OpenFolder::open(*OpenFolder::working(), full, full);

        const FileManager::Placed placed = FileManager::linkOrCopyFile(*from, "large.bin", *to, "staged");
        mounts.unmountAll();
        QCOMPARE(placed.placement, FileManager::Placement::Copy);
        QVERIFY(placed.failure);
        QCOMPARE(placed.failure->atTarget, targetFull);
        QCOMPARE(placed.failure->error, targetFull ? ENOSPC : EACCES);
    }

    // Where no link can stand for it, the data is copied whole, with its
    // permissions and times.
    void aPathTooLongForALinkIsCopied()
    {
        const std::string name(200, 'd');
        QVERIFY(makeDeepTree(user(), name, 21));
        std::shared_ptr<const OpenFolder> from = OpenFolder::open(*OpenFolder::working(), user(), user());
        for (int depth = 0; depth < 21; ++depth)
            from = OpenFolder::open(*from, name, from->pathOf(name));
        QVERIFY(from);
        const int file = ::openat(from->fd(), "data.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0640);
        QCOMPARE(::write(file, "deep data", 9), ssize_t(9));
        ::close(file);
        const auto to = OpenFolder::open(*OpenFolder::working(), other(), other());

        const FileManager::Placed placed = FileManager::linkOrCopyFile(*from, "data.txt", *to, "staged");
        QCOMPARE(text(placed.failure), "(no error)");
        QCOMPARE(placed.placement, FileManager::Placement::Copy);
        const struct stat copy = statOf(other() + "/staged");
        QVERIFY(S_ISREG(copy.st_mode));
        QCOMPARE(copy.st_mode & 07777, mode_t(0640));
        QCOMPARE(readFile(other() + "/staged"), std::string("deep data"));
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
};

QTEST_GUILESS_MAIN(TestFileManager)
#include "tst_FileManager.moc"

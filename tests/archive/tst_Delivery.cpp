// The archive's last step, its free name, on every kind of file system the
// destination may be: calls that answer as one without RENAME_NOREPLACE,
// and without hard links too, stand in for the system's on a real folder.
#include "Delivery.h"
#include "SpaceCheck.h"
#include "SyscallRefusal.h"
#include "TestFiles.h"
#include "TestHome.h"
#include "WorkFolders.h"
#include "WorkJournal.h"
#include "WorkRoot.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Calls = Delivery::Calls;

const std::string kArchive = "the checked archive";

// A call that fails with error.
Calls::Move failingWith(int error)
{
    return [error](const std::string&, const std::string&) {
        errno = error;
        return -1;
    };
}

// The system's calls, but for what fileSystem cannot do: "renameat2" can
// do everything, "links" has no RENAME_NOREPLACE, "no links (EPERM)" and
// "no links (ENOSYS)" have no hard links either, as exFAT through FUSE and
// a libfuse 2 file system without link() answer.
Calls callsOf(const QString& fileSystem)
{
    Calls calls = Calls::ofSystem();
    if (fileSystem != "renameat2")
        calls.renameNoReplace = failingWith(EINVAL);
    if (fileSystem.startsWith("no links"))
        calls.link = failingWith(fileSystem.contains("EPERM") ? EPERM : ENOSYS);
    return calls;
}

ino_t inodeOf(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

// The same file under the same name with another inode number, as a file
// system mounted again may give it.
void renumber(const std::string& path)
{
    const std::string copy = path + ".copy";
    fs::copy_file(path, copy);
    fs::rename(copy, path);
}

// A folder on /dev/shm stands for a stick: another disk than the home
// folder's, where the test machine has them apart.
bool isAnotherDisk(const std::string& folder, const std::string& home)
{
    return SpaceCheck::deviceOf(folder) != SpaceCheck::deviceOf(home);
}

QStringList namesIn(const std::string& folder)
{
    return QDir(QString::fromStdString(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class TestDelivery : public QObject {
    Q_OBJECT
    std::optional<TestHome> m_home;
    std::string m_dest;
    std::string m_part;
    std::optional<WorkFolders> m_folders;

    // A journal that has the part file written down, as the job has.
    std::unique_ptr<WorkJournal> journalWithPart()
    {
        auto journal = std::make_unique<WorkJournal>(*m_folders);
        journal->intend(WorkJournal::Kind::Part, m_part);
        journal->made(m_part);
        return journal;
    }

    // Makes the job's journal say inode `to` wherever it says `from`.
    bool renumberInJournal(ino_t from, ino_t to)
    {
        bool changed = false;
        for (const auto& record : fs::directory_iterator(m_folders->journalFolder())) {
            std::string text = readFile(record.path().string());
            const std::string was = " " + std::to_string(from) + "\n";
            for (size_t at = text.find(was); at != std::string::npos; at = text.find(was, at + 1)) {
                text.replace(at, was.size(), " " + std::to_string(to) + "\n");
                changed = true;
            }
            writeFile(record.path().string(), text);
        }
        return changed;
    }

private slots:
    void init()
    {
        m_home.emplace();
        m_dest = m_home->makeFolder("dest");
        m_part = m_dest + "/" + Delivery::partName(m_dest);
        writeFile(m_part, kArchive);
        m_folders = WorkFolders(m_home->path()).forNewJob();
    }
    void cleanup() { m_home.reset(); }

    void placesUnderTheFirstFreeName_data()
    {
        QTest::addColumn<QString>("fileSystem");
        QTest::addColumn<QStringList>("theirs"); // files of others there before, or put there meanwhile
        QTest::addColumn<QString>("meddling");
        QTest::addColumn<QString>("expected"); // empty: the delivery fails
        QTest::addColumn<int>("error"); // when it fails
        for (const char* name : {"renameat2", "links", "no links (EPERM)", "no links (ENOSYS)"}) {
            const QString fileSystem = name;
            QTest::addRow("%s, empty folder", name) << fileSystem << QStringList() << "" << "archive.zip" << 0;
            QTest::addRow("%s, archive.zip taken", name) << fileSystem << QStringList{"archive.zip"} << ""
                                                                << "archive1.zip" << 0;
            QTest::addRow("%s, two taken", name) << fileSystem << QStringList{"archive.zip", "archive1.zip"} << ""
                                                        << "archive2.zip" << 0;
            QTest::addRow("%s, a gap", name) << fileSystem << QStringList{"archive1.zip"} << "" << "archive.zip" << 0;
            // Windows takes these for the archive's own name.
            QTest::addRow("%s, ARCHIVE.ZIP there", name) << fileSystem << QStringList{"ARCHIVE.ZIP"} << ""
                                                                << "archive1.zip" << 0;
            QTest::addRow("%s, Archive.zip and archive1.zip. there", name)
                << fileSystem << QStringList{"Archive.zip", "archive1.zip."} << "" << "archive2.zip" << 0;
        }
        // Without RENAME_NOREPLACE and hard links the name is held by an
        // empty file first: what others do to that name meanwhile never
        // makes the archive replace their file, nor leaves a placeholder
        // behind.
        const QString noLinks = "no links (EPERM)";
        const QStringList theirs{"archive.zip"};
        QTest::newRow("a file appears under the name just before it is held")
            << noLinks << theirs << "appears" << "archive1.zip" << 0;
        QTest::newRow("the placeholder is replaced before the rename")
            << noLinks << theirs << "replaced" << "archive1.zip" << 0;
        QTest::newRow("the placeholder is removed before the rename, once")
            << noLinks << QStringList() << "removed once" << "archive.zip" << 0;
        // Whatever removes every new file there would remove the archive too.
        QTest::newRow("every placeholder is removed before the rename")
            << noLinks << QStringList() << "removed always" << "" << ENOENT;
        // The error names the archive's name, and the job's clean-up takes
        // the placeholder away with the part.
        QTest::newRow("the rename over the placeholder fails") << noLinks << QStringList() << "rename fails" << ""
                                                               << EIO;
    }
    // The part file becomes the first free name; the files of others stay
    // as they were, and nothing else is left in the folder, by the delivery
    // or by the job's clean-up after it.
    void placesUnderTheFirstFreeName()
    {
        QFETCH(QString, fileSystem);
        QFETCH(QStringList, theirs);
        QFETCH(QString, meddling);
        QFETCH(QString, expected);
        QFETCH(int, error);
        const auto theirsAt = [&](const std::string& path) {
            writeFile(path, "theirs: " + fs::path(path).filename().string());
        };
        if (meddling.isEmpty())
            for (const QString& name : theirs)
                theirsAt(m_dest + "/" + name.toStdString());
        Calls calls = callsOf(fileSystem);
        int held = 0;
        calls.createNew = [&, create = calls.createNew](const std::string& path) {
            ++held;
            if (meddling == "appears" && held == 1)
                theirsAt(path);
            const int fd = create(path);
            if (fd >= 0 && (meddling == "removed always" || ((meddling == "removed once" || meddling == "replaced") && held == 1)))
                ::unlink(path.c_str());
            if (fd >= 0 && meddling == "replaced" && held == 1)
                theirsAt(path);
            return fd;
        };
        if (meddling == "rename fails")
            calls.rename = failingWith(EIO);
        const auto journal = journalWithPart();

        std::string finalPath;
        const Failure failure = Delivery::placeUnderFreeName(m_part, m_dest, finalPath, "archive", *journal, calls);
        if (meddling == "rename fails") // the placeholder is held until the job ends
            QVERIFY(fs::exists(m_dest + "/archive.zip"));
        journal->removeAll();

        if (expected.isEmpty()) {
            QCOMPARE(failure, Failure(describeErrno(error, m_dest + "/archive.zip")));
            QVERIFY(finalPath.empty());
        } else {
            QCOMPARE(failure, Failure());
            QCOMPARE(finalPath, m_dest + "/" + expected.toStdString());
            QCOMPARE(readFile(finalPath), kArchive);
        }
        for (const QString& name : theirs)
            QCOMPARE(readFile(m_dest + "/" + name.toStdString()), "theirs: " + name.toStdString());
        QStringList left = theirs;
        if (!expected.isEmpty())
            left << expected;
        left.sort();
        QCOMPARE(namesIn(m_dest), left);
        QCOMPARE(leftInWorkRoot(m_folders->tmpDirectory()), QStringList());
    }

    // A number after a name that ends in a digit would read as part of it.
    void aNameEndingInADigitIsNumberedAfterAHyphen_data()
    {
        QTest::addColumn<QString>("baseName");
        QTest::addColumn<QStringList>("theirs");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free") << "報告2025" << QStringList() << "報告2025.zip";
        QTest::newRow("taken") << "報告2025" << QStringList{"報告2025.zip"} << "報告2025-1.zip";
        QTest::newRow("two taken, as Windows reads them")
            << "v2" << QStringList{"V2.ZIP", "v2-1.zip"} << "v2-2.zip";
        QTest::newRow("no digit at the end") << "見積書" << QStringList{"見積書.zip"} << "見積書1.zip";
        QTest::newRow("a full-width digit is no digit here") << "報告２" << QStringList{"報告２.zip"} << "報告２1.zip";
    }
    void aNameEndingInADigitIsNumberedAfterAHyphen()
    {
        QFETCH(QString, baseName);
        QFETCH(QStringList, theirs);
        QFETCH(QString, expected);
        for (const QString& name : theirs)
            writeFile(m_dest + "/" + name.toStdString(), "theirs");
        const std::string base = baseName.toStdString();
        QCOMPARE(QString::fromStdString(Delivery::freeArchiveName(m_dest, base)), expected);
        const auto journal = journalWithPart();
        std::string finalPath;
        QCOMPARE(Delivery::placeUnderFreeName(m_part, m_dest, finalPath, base, *journal, Calls::ofSystem()), Failure());
        journal->removeAll();
        QCOMPARE(finalPath, m_dest + "/" + expected.toStdString());
        QCOMPARE(readFile(finalPath), kArchive);
    }

    // A folder where every hidden name seems taken (here: its path holds a
    // NUL byte, so the system reads a shorter one, which exists) does not
    // hold the job up for ever: a name of the usual shape comes back.
    void aHiddenNameIsFoundEvenWhereAllSeemTaken()
    {
        const std::string existing = m_home->makeFolder("dest");
        const std::string unreadable = existing + std::string(1, '\0') + "x";
        const std::string name = Delivery::partName(unreadable);
        QVERIFY2(WorkJournal::isPartName(name), name.c_str());
        QVERIFY(!fs::exists(existing + "/" + name));
    }

    // A stick pulled out while the archive went onto it: where it was
    // mounted a bare folder of the disk above is left, and the job's part
    // file is out of reach when the job ends. The record keeps it, and the
    // first start after the stick is back at the same place removes it. A
    // destination folder removed from a disk that is still there took the
    // part file with it: its record goes at once.
    void aPartOnAStickPulledOutIsRemovedWhenItIsBack_data()
    {
        QTest::addColumn<bool>("pulled");
        QTest::addColumn<bool>("sameProcess"); // the window that ran the job is still open
        QTest::newRow("the stick pulled out, found by a later start") << true << false;
        QTest::newRow("the stick pulled out, found by the window's next job") << true << true;
        QTest::newRow("the folder removed") << false << false;
    }
    void aPartOnAStickPulledOutIsRemovedWhenItIsBack()
    {
        QFETCH(bool, pulled);
        QFETCH(bool, sameProcess);
        // The stick: a folder on another disk, reached through its place.
        QTemporaryDir stickDisk("/dev/shm/tst_Delivery-XXXXXX");
        QVERIFY(stickDisk.isValid());
        const std::string disk = stickDisk.path().toStdString();
        if (!isAnotherDisk(disk, m_home->path()))
            QSKIP("the temporary folder and /dev/shm are on one disk here");
        const std::string place = m_home->path() + "/stick";
        fs::create_directory_symlink(disk, place);
        const std::string dest = place + "/out";
        fs::create_directory(dest);
        const std::string part = dest + "/" + Delivery::partName(dest);
        writeFile(part, kArchive);

        const auto runJob = [&] {
            auto journal = std::make_unique<WorkJournal>(*m_folders);
            journal->intend(WorkJournal::Kind::Part, part);
            journal->made(part);
            if (pulled) {
                fs::remove(place);
                fs::create_directory(place); // the bare mount point
            } else {
                fs::remove_all(dest);
            }
            journal->removeAll();
        };
        if (sameProcess) {
            runJob();
        } else {
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                runJob();
                ::_exit(0);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        QCOMPARE(fs::exists(disk + "/out/" + fs::path(part).filename().string()), pulled);
        QCOMPARE(leftInWorkRoot(m_folders->tmpDirectory()).isEmpty(), !pulled);
        if (!pulled)
            return;
        // Not back yet: the record waits.
        WorkJournal::removeLeftovers(*m_folders);
        QVERIFY(!leftInWorkRoot(m_folders->tmpDirectory()).isEmpty());

        fs::remove(place);
        fs::create_directory_symlink(disk, place);
        WorkJournal::removeLeftovers(*m_folders);

        QCOMPARE(namesIn(dest), QStringList());
        QCOMPARE(leftInWorkRoot(m_folders->tmpDirectory()), QStringList());
    }

    void anArchiveOnAnotherDiskIsWrittenOutBeforeItIsDelivered_data()
    {
        QTest::addColumn<bool>("elsewhere");
        QTest::addColumn<long>("refusedCall"); // 0 for none
        QTest::addColumn<int>("diskError");    // what the disk answers to it
        QTest::addColumn<bool>("fails");
        QTest::newRow("a stick: written out") << true << 0L << 0 << false;
        QTest::newRow("a stick that fails at the flush: the job is told") << true << long(SYS_fsync) << EIO << true;
        QTest::newRow("a stick that fails as a piece goes out: the job is told")
            << true << long(SYS_sync_file_range) << EIO << true;
        QTest::newRow("a full stick: the job is told") << true << long(SYS_sync_file_range) << ENOSPC << true;
        QTest::newRow("a file system that writes out no range: the flush does it all")
            << true << long(SYS_sync_file_range) << EINVAL << false;
        QTest::newRow("the work folder's disk: nothing is asked of it") << false << long(SYS_fsync) << EIO << false;
    }
    // Only a copy on another disk waits in memory for the disk; a failure
    // to write it out names the part file, so that the job fails and says
    // where.
    void anArchiveOnAnotherDiskIsWrittenOutBeforeItIsDelivered()
    {
        QFETCH(bool, elsewhere);
        QFETCH(long, refusedCall);
        QFETCH(int, diskError);
        QFETCH(bool, fails);
        QTemporaryDir stick("/dev/shm/tst_Delivery-XXXXXX");
        QVERIFY(stick.isValid());
        const std::string work = m_folders->outputFolder();
        fs::create_directories(work);
        const std::string dest = elsewhere ? stick.path().toStdString() : m_dest;
        if (elsewhere && !isAnotherDisk(dest, work))
            QSKIP("the temporary folder and /dev/shm are on one disk here");
        const std::string part = dest + "/" + Delivery::partName(dest);
        writeFile(part, kArchive);

        std::vector<SyscallRefusal::Refusal> refusals;
        if (refusedCall != 0)
            refusals = {{refusedCall, diskError}};
        if (refusedCall == SYS_fsync)
            refusals.push_back({SYS_fdatasync, diskError});
        const std::optional<std::string> answer = SyscallRefusal::run(refusals, [&] {
            const Failure failure = Delivery::writeOut(part, work);
            return failure ? *failure : std::string("(written out)");
        });
        QVERIFY(answer);
        QCOMPARE(*answer, fails ? describeErrno(diskError, part) : std::string("(written out)"));
        QCOMPARE(readFile(part), kArchive);
    }

    // The part file goes out a piece at a time, and whoever waits is told
    // before each piece how much is out; a stop between pieces ends the
    // writing out with a line of its own.
    void writingOutIsToldPieceByPieceAndCanStop()
    {
        QTemporaryDir stick("/dev/shm/tst_Delivery-XXXXXX");
        QVERIFY(stick.isValid());
        const std::string work = m_folders->outputFolder();
        fs::create_directories(work);
        const std::string dest = stick.path().toStdString();
        if (!isAnotherDisk(dest, work))
            QSKIP("the temporary folder and /dev/shm are on one disk here");
        const std::string part = dest + "/" + Delivery::partName(dest);
        constexpr uint64_t kMiB = 1 << 20;
        writeFile(part, std::string(20 * kMiB + 5, 'x'));

        std::vector<uint64_t> told;
        const Failure whole = Delivery::writeOut(part, work, [&](uint64_t bytes) {
            told.push_back(bytes);
            return false;
        });
        QVERIFY2(!whole, whole ? whole->c_str() : "");
        QVERIFY(told == (std::vector<uint64_t>{0, 8 * kMiB, 16 * kMiB}));

        told.clear();
        const Failure stopped = Delivery::writeOut(part, work, [&](uint64_t bytes) {
            told.push_back(bytes);
            return bytes >= 8 * kMiB;
        });
        QCOMPARE(stopped, Failure(Delivery::kWriteOutStopped + part));
        QVERIFY(told == (std::vector<uint64_t>{0, 8 * kMiB}));
        QCOMPARE(fs::file_size(part), 20 * kMiB + 5);
    }

    // Only FAT (as most sticks come) stops at 4 GB less a byte: the disks
    // of Linux take larger archives, which are not refused for their size.
    void onlyAFatDiskRefusesAnArchiveOver4GB_data()
    {
        QTest::addColumn<long>("fileSystem");
        QTest::addColumn<qulonglong>("bytes");
        QTest::addColumn<bool>("held");
        QTest::newRow("FAT, its largest file") << long(MSDOS_SUPER_MAGIC) << 0xFFFFFFFFull << true;
        QTest::newRow("FAT, 4 GB") << long(MSDOS_SUPER_MAGIC) << 0x100000000ull << false;
        QTest::newRow("ext4, 5 GB") << long(EXT4_SUPER_MAGIC) << 5'000'000'000ull << true;
        QTest::newRow("tmpfs, 5 GB") << long(TMPFS_MAGIC) << 5'000'000'000ull << true;
    }
    void onlyAFatDiskRefusesAnArchiveOver4GB()
    {
        QFETCH(long, fileSystem);
        QFETCH(qulonglong, bytes);
        QFETCH(bool, held);
        QCOMPARE(Delivery::fileSystemHolds(fileSystem, bytes), held);
    }
    // The folders here are not FAT: a large archive is not refused there.
    void theDisksHereTakeALargeArchive()
    {
        QVERIFY(Delivery::holdsFileOf(m_dest, 5'000'000'000ull));
        QVERIFY(Delivery::holdsFileOf("/dev/shm", 5'000'000'000ull));
    }

    void whatAJobKilledBetweenTheStepsLeftIsRemoved_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("nothing") << "";
        // Mounted again, a FUSE file system numbers its files anew.
        QTest::newRow("the stick plugged in again") << "renumbered";
        QTest::newRow("plugged in again, the user's archive.zip under the placeholder's number") << "user's archive";
    }
    // A job killed between holding the name and the rename leaves an empty
    // archive.zip and its part file; the next start removes both, and a file
    // of the user's that is there too stays, whatever inode number it has.
    void whatAJobKilledBetweenTheStepsLeftIsRemoved()
    {
        QFETCH(QString, meanwhile);
        writeFile(m_dest + "/archive1.zip", "theirs");
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            const auto journal = journalWithPart();
            Calls calls = callsOf("no links (EPERM)");
            calls.rename = [](const std::string&, const std::string&) {
                ::kill(::getpid(), SIGKILL);
                return -1;
            };
            std::string finalPath;
            Delivery::placeUnderFreeName(m_part, m_dest, finalPath, "archive", *journal, calls);
            ::_exit(1); // not reached
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        const std::string placeholder = m_dest + "/archive.zip";
        QCOMPARE(readFile(placeholder), std::string()); // the placeholder
        QVERIFY(fs::exists(m_part));
        const ino_t heldInode = inodeOf(placeholder);
        QStringList expected{"archive1.zip"};
        if (meanwhile == "renumbered") {
            renumber(placeholder);
            renumber(m_part);
            QVERIFY(inodeOf(placeholder) != heldInode);
        } else if (meanwhile == "user's archive") {
            // The user's archive.zip, which the file system happens to
            // number as it numbered the placeholder.
            fs::remove(placeholder);
            writeFile(m_dest + "/user.zip", "the user's own archive");
            QVERIFY(renumberInJournal(heldInode, inodeOf(m_dest + "/user.zip")));
            fs::rename(m_dest + "/user.zip", placeholder);
            expected.prepend("archive.zip");
        }

        WorkJournal::removeLeftovers(*m_folders);

        QCOMPARE(namesIn(m_dest), expected);
        QCOMPARE(readFile(m_dest + "/archive1.zip"), std::string("theirs"));
        if (meanwhile == "user's archive")
            QCOMPARE(readFile(placeholder), std::string("the user's own archive"));
        QCOMPARE(leftInWorkRoot(m_folders->tmpDirectory()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestDelivery)
#include "tst_Delivery.moc"

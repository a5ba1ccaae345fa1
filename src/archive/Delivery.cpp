#include "Delivery.h"

#include "FileManager.h"
#include "SpaceCheck.h"
#include "UniqueFd.h"
#include "Utf8Sequence.h"
#include "Util.h"
#include "WindowsName.h"
#include "WorkJournal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <set>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

// How often a name whose placeholder someone else removed is held again.
constexpr int kHoldAttempts = 3;
// How many hidden names are drawn before the last one is taken as it is.
constexpr int kPartNameAttempts = 100;

// "archive1.zip" as always; a name that ends in a digit, such as one
// named after "報告2025", is numbered "報告2025-1.zip": "報告20251.zip"
// would read as another report.
std::string archiveName(const std::string& baseName, int n)
{
    if (n == 0)
        return baseName + ".zip";
    const bool endsInDigit = !baseName.empty() && baseName.back() >= '0' && baseName.back() <= '9';
    return baseName + (endsInDigit ? "-" : "") + std::to_string(n) + ".zip";
}

// The names in folder as Windows tells files apart. The archive is meant
// for Windows: beside "ARCHIVE.ZIP" (on a stick with case-sensitive names,
// or in a Linux folder that goes there later), "archive.zip" would be a
// second file of the same name. A folder that cannot be listed gives none,
// and the names themselves still decide.
std::set<std::string> windowsNamesIn(const std::string& folder)
{
    std::set<std::string> names;
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return names;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (Utf8Sequence::isWhole(name))
            names.insert(WindowsName::sameFileKey(name));
    }
    ::closedir(listing);
    return names;
}

// What became of one name.
enum class Attempt { Placed, Taken, Lost, Failed };

// renameat2 answers so where the file system has no RENAME_NOREPLACE.
bool cannotRefuseToReplace(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// link answers so where the file system has no hard links (exFAT and most
// FUSE file systems).
bool hasNoHardLinks(int error)
{
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The name is held by an empty file the job makes itself, which nothing
// else can have made at the same moment, and the part file is renamed over
// it. The placeholder is written down like the part file, so that a job
// killed between the two steps leaves no empty archive behind. Someone may
// still remove or replace it before the rename: a placeholder that is not
// the job's own any more is never renamed over. (Between that last look and
// the rename nothing can be held on such a file system.)
Attempt renameOverPlaceholder(const std::string& source, const std::string& target, WorkJournal& journal,
                              const Delivery::Calls& calls, Failure& error)
{
    if ((error = journal.intend(WorkJournal::Kind::Placeholder, target)))
        return Attempt::Failed;
    const int fd = calls.createNew(target);
    if (fd < 0) {
        const int cause = errno;
        journal.forget(target);
        if (cause == EEXIST)
            return Attempt::Taken;
        error = describeErrno(cause, target);
        return Attempt::Failed;
    }
    journal.made(target);
    struct stat held {};
    if (::fstat(fd, &held) != 0) {
        error = describeErrno(errno, target);
        ::close(fd);
        return Attempt::Failed;
    }
    struct stat now {};
    const bool present = ::lstat(target.c_str(), &now) == 0;
    const bool ours = present && sameFile(held, now);
    // A FUSE file system keeps a file that is open when something replaces
    // it under a hidden name of its own until it is closed; held open up to
    // here, the placeholder kept its inode number while it was compared.
    ::close(fd);
    if (!ours) {
        journal.forget(target);
        return present ? Attempt::Taken : Attempt::Lost;
    }
    if (calls.rename(source, target) != 0) {
        // The placeholder stays written down: the job's clean-up removes it.
        error = describeErrno(errno, target);
        return Attempt::Failed;
    }
    // Its inode number is free now and may come back under this very name.
    journal.forget(target);
    return Attempt::Placed;
}

// rename that fails when target exists; on file systems that cannot say
// so, a hard link does the same, and without hard links a placeholder.
Attempt placeAt(const std::string& source, const std::string& target, WorkJournal& journal,
                const Delivery::Calls& calls, Failure& error)
{
    if (calls.renameNoReplace(source, target) == 0)
        return Attempt::Placed;
    if (cannotRefuseToReplace(errno)) {
        if (calls.link(source, target) == 0) {
            ::unlink(source.c_str());
            return Attempt::Placed;
        }
        if (hasNoHardLinks(errno))
            return renameOverPlaceholder(source, target, journal, calls, error);
    }
    if (errno == EEXIST)
        return Attempt::Taken;
    error = describeErrno(errno, target);
    return Attempt::Failed;
}

} // namespace

Delivery::Calls Delivery::Calls::ofSystem()
{
    Calls calls;
    calls.renameNoReplace = [](const std::string& source, const std::string& target) {
        return ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    };
    calls.link = [](const std::string& source, const std::string& target) {
        return ::link(source.c_str(), target.c_str());
    };
    calls.createNew = [](const std::string& path) {
        return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    };
    calls.rename = [](const std::string& source, const std::string& target) {
        return ::rename(source.c_str(), target.c_str());
    };
    return calls;
}

std::string Delivery::freeArchiveName(const std::string& destDir, const std::string& baseName)
{
    const std::set<std::string> windowsNames = windowsNamesIn(destDir);
    for (int n = 0;; ++n) {
        const std::string name = archiveName(baseName, n);
        if (!FileManager::exists(destDir + "/" + name) && !windowsNames.contains(WindowsName::sameFileKey(name)))
            return name;
    }
}

std::string Delivery::partName(const std::string& destDir)
{
    // Twelve characters drawn from 36 are never all taken: a folder where
    // every name seems to be (a path the system reads otherwise than
    // written) gets the last one drawn, which the move, never replacing a
    // file, then refuses.
    std::string name;
    for (int attempt = 0; attempt < kPartNameAttempts; ++attempt) {
        name = WorkJournal::kPartPrefix + Util::randomPassword(WorkJournal::kPartNameDrawn) + WorkJournal::kPartSuffix;
        if (!FileManager::exists(destDir + "/" + name))
            break;
    }
    return name;
}

Failure Delivery::placeUnderFreeName(const std::string& partPath, const std::string& destDir, std::string& finalPath,
                                     const std::string& baseName, WorkJournal& journal, const Calls& calls)
{
    const std::set<std::string> windowsNames = windowsNamesIn(destDir);
    for (int n = 0;; ++n) {
        if (windowsNames.contains(WindowsName::sameFileKey(archiveName(baseName, n))))
            continue;
        const std::string candidate = destDir + "/" + archiveName(baseName, n);
        Attempt attempt = Attempt::Lost;
        Failure error;
        for (int hold = 0; attempt == Attempt::Lost && hold < kHoldAttempts; ++hold)
            attempt = placeAt(partPath, candidate, journal, calls, error);
        // Whatever removes every new file here would remove the archive too.
        if (attempt == Attempt::Lost)
            return describeErrno(ENOENT, candidate);
        if (attempt == Attempt::Placed) {
            finalPath = candidate;
            return std::nullopt;
        }
        if (attempt == Attempt::Failed)
            return error;
    }
}

void Delivery::giveUsualMode(const std::string& partPath)
{
    // Read where it is shown: umask() would change it, for every thread,
    // while it asks.
    std::ifstream status("/proc/self/status");
    mode_t mask = 022;
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("Umask:"))
            mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    // A file system without modes refuses or ignores it: nothing to mend there.
    ::fchmodat(AT_FDCWD, partPath.c_str(), 0666 & ~mask, AT_SYMLINK_NOFOLLOW);
}

FailureCause Delivery::destinationCause(const std::string& destDir, uint64_t bytes)
{
    if (::access(destDir.c_str(), W_OK | X_OK) != 0)
        return FailureCause::DestinationNotWritable;
    if (!holdsFileOf(destDir, bytes))
        return FailureCause::DestinationFileTooLarge;
    if (SpaceCheck::isFull(destDir, bytes))
        return FailureCause::DestinationFull;
    return FailureCause::Other;
}

bool Delivery::isOnAnotherDisk(const std::string& path, const std::string& workFolder)
{
    const dev_t disk = SpaceCheck::deviceOf(path), work = SpaceCheck::deviceOf(workFolder);
    return disk != 0 && work != 0 && disk != work;
}

namespace {

// Writes out the file's data in pieces, each waited for, telling step
// before each how much is out. A file system that cannot write out a range
// leaves it all to the fsync that follows.
Failure writeOutInPieces(int file, const std::string& partPath, const Delivery::WriteOutStep& step)
{
    constexpr uint64_t kPiece = 8 << 20;
    struct stat info {};
    if (::fstat(file, &info) != 0)
        return describeErrno(errno, partPath);
    const auto size = static_cast<uint64_t>(info.st_size);
    for (uint64_t done = 0; done < size;) {
        if (step && step(done))
            return Delivery::kWriteOutStopped + partPath;
        const uint64_t piece = std::min(kPiece, size - done);
        if (::sync_file_range(file, static_cast<off_t>(done), static_cast<off_t>(piece),
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER)
            != 0) {
            if (FileManager::rangeWriteOutUnsupported(errno))
                return std::nullopt;
            return describeErrno(errno, partPath);
        }
        done += piece;
    }
    return std::nullopt;
}

} // namespace

Failure Delivery::writeOut(const std::string& partPath, const std::string& workFolder, const WriteOutStep& step)
{
    if (!isOnAnotherDisk(partPath, workFolder))
        return std::nullopt;
    // What the file has is written out, whoever wrote it (mv, in an
    // encrypted job). It is opened for writing where it may be: a share
    // may refuse to flush a file opened for reading only.
    UniqueFd file(::open(partPath.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.isOpen())
        file = UniqueFd(::open(partPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.isOpen())
        return describeErrno(errno, partPath);
    if (Failure failed = writeOutInPieces(file.get(), partPath, step))
        return failed;
    // The rest, and the file's own record, which the pieces do not hold;
    // the disk's cache too, where the disk has one.
    if (::fsync(file.get()) != 0)
        return describeErrno(errno, partPath);
    return std::nullopt;
}

void Delivery::writeOutName(const std::string& destDir, const std::string& workFolder)
{
    if (!isOnAnotherDisk(destDir, workFolder))
        return;
    // Not every file system writes out a folder on request (some refuse
    // fsync on one); the archive's data is out already.
    const UniqueFd folder(::open(destDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.isOpen())
        ::fsync(folder.get());
}

bool Delivery::holdsFileOf(const std::string& destDir, uint64_t bytes)
{
    struct statfs disk {};
    return ::statfs(destDir.c_str(), &disk) != 0 || fileSystemHolds(static_cast<long>(disk.f_type), bytes);
}

bool Delivery::fileSystemHolds(long fileSystemType, uint64_t bytes)
{
    constexpr uint64_t kFatLargestFile = 0xFFFFFFFFull;
    return fileSystemType != MSDOS_SUPER_MAGIC || bytes <= kFatLargestFile;
}

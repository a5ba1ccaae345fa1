#include "FileManager.h"

#include "PathText.h"
#include "TreeRemover.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Error = Failure;

Error failure(int error, const std::string& path)
{
    return describeErrno(error, path);
}

FileManager::CopyFailure copyFailure(int error, const std::string& path, bool atTarget)
{
    return {describeErrno(error, path), atTarget, error};
}

enum class Copied { All, ReadFailed, WriteFailed, Stopped };

bool isOutOfSpace(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// What a file system that cannot hold a file's mode or times answers when
// asked to; the file the job has just made is its own, so on any other
// file system these do not happen.
bool isAttributeRefusal(int error)
{
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP || error == ENOTSUP;
}

// A failure of the folder a link was to be made in, not of the file.
bool isTargetFailure(int error)
{
    return error == EEXIST || isOutOfSpace(error) || error == EROFS || error == EIO;
}

// Copies the bytes from one open file to another: a clone where the file
// system offers one, else copy_file_range, else plain reads and writes. A
// large file goes in pieces, so that stop is asked every megabyte, and with
// plain writes before each of them: a USB stick or a network share may take
// seconds for a megabyte. stop is told how many bytes are copied so far.
// writeThrough: the copy goes onto another disk and is to be on it when it
// is done. Every few megabytes the copy then waits until they are on the
// disk, so that the bytes told are the disk's pace, not memory's, stop is
// still asked while a slow stick writes, and the flush at the end is short.
Copied copyBytes(int in, int out, const FileManager::CopyStop& stop, bool writeThrough)
{
    if (::ioctl(out, FICLONE, in) == 0)
        return Copied::All;
    constexpr size_t kPiece = 1 << 20;
    constexpr uint64_t kWrittenOutEvery = 8 << 20;
    bool rangeWorks = true;
    uint64_t copied = 0;
    uint64_t writtenOut = 0;
    for (;;) {
        // The disk's own failure shows here (a full stick that took the
        // data into memory): the copy stops at once. A file system that
        // cannot do this leaves it to the flush at the end.
        if (writeThrough && copied - writtenOut >= kWrittenOutEvery) {
            if (::sync_file_range(out, static_cast<off_t>(writtenOut), static_cast<off_t>(copied - writtenOut),
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER)
                    != 0
                && !FileManager::rangeWriteOutUnsupported(errno))
                return Copied::WriteFailed;
            writtenOut = copied;
        }
        if (stop && stop(copied))
            return Copied::Stopped;
        if (rangeWorks) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kPiece, 0);
            if (n == 0)
                return Copied::All;
            if (n > 0)
                copied += static_cast<uint64_t>(n);
            if (n > 0 || errno == EINTR)
                continue;
            if (isOutOfSpace(errno))
                return Copied::WriteFailed;
            // Anything else is told apart by plain reads and writes, which
            // go on from where the range copy stopped.
            rangeWorks = false;
        }
        char buffer[1 << 16];
        for (size_t piece = 0; piece < kPiece;) {
            if (stop && stop(copied))
                return Copied::Stopped;
            const ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n == 0)
                return Copied::All;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return Copied::ReadFailed;
            }
            if (!UniqueFd::writeAll(out, buffer, static_cast<size_t>(n)))
                return Copied::WriteFailed;
            piece += static_cast<size_t>(n);
            copied += static_cast<uint64_t>(n);
        }
    }
}

// A file reached by name in an open folder (AT_FDCWD for a whole path),
// and its path for messages: a path may be longer than the system opens.
struct Place {
    int folder;
    std::string name;
    std::string path;
};

// A new file at target with the data, permissions and times of source.
// openFlags says whether a link at source is followed; writeThrough, whether
// the data is to be on the target's disk as the copy goes.
std::optional<FileManager::CopyFailure> copyFileData(const Place& source, const Place& target,
                                                     const struct stat& info, int openFlags,
                                                     const FileManager::CopyStop& stop = {}, bool writeThrough = false)
{
    UniqueFd in(::openat(source.folder, source.name.c_str(), O_RDONLY | O_CLOEXEC | openFlags));
    if (in.get() < 0)
        return copyFailure(errno, source.path, false);
    UniqueFd out(::openat(target.folder, target.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0)
        return copyFailure(errno, target.path, true);
    const Copied copied = copyBytes(in.get(), out.get(), stop, writeThrough);
    if (copied != Copied::All) {
        const int error = copied == Copied::Stopped ? ECANCELED : errno;
        ::unlinkat(target.folder, target.name.c_str(), 0);
        const bool atTarget = copied != Copied::ReadFailed;
        return copyFailure(error, atTarget ? target.path : source.path, atTarget);
    }
    // A file system that keeps no modes or times of its own (FAT through
    // FUSE, a stick mounted for everyone but owned by root) refuses to take
    // them, as cp and mv find: the data is there all the same.
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if ((::fchmod(out.get(), info.st_mode & 07777) != 0 && !isAttributeRefusal(errno))
        || (::futimens(out.get(), times) != 0 && !isAttributeRefusal(errno))) {
        const int error = errno;
        ::unlinkat(target.folder, target.name.c_str(), 0);
        return copyFailure(error, target.path, true);
    }
    // Space the file system promised but could not give shows up here.
    if (::close(out.release()) != 0) {
        const int error = errno;
        ::unlinkat(target.folder, target.name.c_str(), 0);
        return copyFailure(error, target.path, true);
    }
    return std::nullopt;
}

} // namespace

bool FileManager::exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool FileManager::isDirectory(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string FileManager::readSmallFile(const std::string& path)
{
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.isOpen())
        return {};
    char buffer[kSmallFileBytes];
    size_t size = 0;
    while (size < sizeof buffer) {
        const ssize_t count = ::read(fd.get(), buffer + size, sizeof buffer - size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        size += static_cast<size_t>(count);
    }
    return std::string(buffer, size);
}

uint64_t FileManager::sizeOf(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

FileManager::Placed FileManager::linkOrCopyFile(const OpenFolder& sourceFolder, const std::string& sourceName,
                                               const OpenFolder& targetFolder, const std::string& targetName,
                                               const std::function<bool()>& stop,
                                               const std::function<std::string()>& linkText)
{
    if (::linkat(sourceFolder.fd(), sourceName.c_str(), targetFolder.fd(), targetName.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return {std::nullopt, Placement::HardLink};
    const std::string source = sourceFolder.pathOf(sourceName);
    const std::string target = targetFolder.pathOf(targetName);
    if (isTargetFailure(errno))
        return {copyFailure(errno, target, true), Placement::Copy};
    if (hardLinkImpossible(errno)) {
        // The writer reads a link to a file as the file: the data stays
        // where it is. A path the link cannot hold, or a work folder that
        // takes no links, leaves only a copy.
        std::error_code unknown;
        std::string text = linkText ? linkText() : std::string();
        if (text.empty())
            text = source.starts_with('/') ? source : std::filesystem::absolute(source, unknown).string();
        if (!unknown && ::symlinkat(text.c_str(), targetFolder.fd(), targetName.c_str()) == 0)
            return {std::nullopt, Placement::SymbolicLink};
        if (!unknown && isTargetFailure(errno))
            return {copyFailure(errno, target, true), Placement::Copy};
    }
    struct stat info {};
    if (::fstatat(sourceFolder.fd(), sourceName.c_str(), &info, 0) != 0)
        return {copyFailure(errno, source, false), Placement::Copy};
    const Place from{sourceFolder.fd(), sourceName, source}, to{targetFolder.fd(), targetName, target};
    const FileManager::CopyStop askStop = stop ? [&stop](uint64_t) { return stop(); } : FileManager::CopyStop();
    return {copyFileData(from, to, info, 0, askStop), Placement::Copy};
}

bool FileManager::hardLinkImpossible(int error)
{
    switch (error) {
    case EXDEV:  // another file system
    case EPERM:  // one without hard links, or a file protected from them
    case EMLINK: // the file has as many links as it may
    case ENOTSUP:
#if EOPNOTSUPP != ENOTSUP
    case EOPNOTSUPP:
#endif
        return true;
    default:
        return false;
    }
}

bool FileManager::rangeWriteOutUnsupported(int error)
{
    return error == EINVAL || error == ESPIPE || error == ENOSYS || error == EOPNOTSUPP;
}

Failure FileManager::moveItem(const std::string& source, const std::string& target,
                              const CopyStop& stop)
{
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return std::nullopt;
    if (errno == EINVAL) { // the file system cannot refuse to replace by itself
        if (exists(target))
            return failure(EEXIST, target);
        if (::rename(source.c_str(), target.c_str()) == 0)
            return std::nullopt;
    }
    if (errno != EXDEV)
        return failure(errno, errno == EEXIST ? target : source);
    // Another file system: copy, then remove the source. A half-made copy
    // is ours to take away again.
    if (exists(target))
        return failure(EEXIST, target);
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0)
        return failure(errno, source);
    if (!S_ISREG(info.st_mode))
        return failure(EXDEV, source);
    const Place from{AT_FDCWD, source, source}, to{AT_FDCWD, target, target};
    if (const std::optional<CopyFailure> copied = copyFileData(from, to, info, O_NOFOLLOW, stop, true)) {
        removeItem(target);
        return copied->description;
    }
    return removeItem(source);
}

Failure FileManager::removeItem(const std::string& path)
{
    const UniqueFd parent(::open(PathText::parentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.isOpen())
        return failure(errno, path);
    return TreeRemover::remove(parent.get(), PathText::lastComponent(path), path);
}

Failure FileManager::createDirectory(const std::string& path, unsigned mode, int* systemError)
{
    const auto failed = [systemError](int error, const std::string& where) {
        if (systemError)
            *systemError = error;
        return failure(error, where);
    };
    if (path.empty())
        return failed(ENOENT, path);
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && part.back() != '/' && ::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return failed(errno, part);
        if (slash == std::string::npos)
            break;
    }
    if (!isDirectory(path))
        return failed(exists(path) ? EEXIST : ENOENT, path);
    return std::nullopt;
}

std::string FileManager::homeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return PathText::withoutTrailingSlashes(home);
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return PathText::withoutTrailingSlashes(entry->pw_dir);
    return "/";
}

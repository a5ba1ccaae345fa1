#include "FileManager.h"

#include "PathText.h"
#include "UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
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

void keepFirst(Error& first, Error next)
{
    if (!first && next)
        first = std::move(next);
}

// Copies the bytes from one open file to another: a clone where the file
// system offers one, else copy_file_range, else plain reads and writes.
bool copyBytes(int in, int out)
{
    if (::ioctl(out, FICLONE, in) == 0)
        return true;
    bool rangeWorks = true;
    for (;;) {
        if (rangeWorks) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n == 0)
                return true;
            if (n > 0)
                continue;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL)
                return false;
            rangeWorks = false;
        }
        char buffer[1 << 16];
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!UniqueFd::writeAll(out, buffer, static_cast<size_t>(n)))
            return false;
    }
}

// A new file at target with the data, permissions and times of source.
// openFlags says whether a link at source is followed.
Error copyFileData(const std::string& source, const std::string& target, const struct stat& info, int openFlags)
{
    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | openFlags));
    if (in.get() < 0)
        return failure(errno, source);
    UniqueFd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0)
        return failure(errno, target);
    if (!copyBytes(in.get(), out.get())) {
        const int error = errno;
        ::unlink(target.c_str());
        return failure(error, source);
    }
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    if (::fchmod(out.get(), info.st_mode & 07777) != 0 || ::futimens(out.get(), times) != 0)
        return failure(errno, target);
    return std::nullopt;
}

std::vector<std::string> directoryEntries(const std::string& folder, int& error)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        error = errno;
        return names;
    }
    error = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

Error removeAny(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return failure(errno, path);
    if (!S_ISDIR(info.st_mode)) {
        if (::unlink(path.c_str()) != 0)
            return failure(errno, path);
        return std::nullopt;
    }
    // Only folders are made accessible: a file may be a hard link to a
    // user's file, whose permissions must stay as they are.
    if ((info.st_mode & S_IRWXU) != S_IRWXU)
        ::chmod(path.c_str(), (info.st_mode & 07777) | S_IRWXU);
    int error = 0;
    const std::vector<std::string> names = directoryEntries(path, error);
    Error first = error ? failure(error, path) : std::nullopt;
    for (const std::string& name : names)
        keepFirst(first, removeAny(PathText::join(path, name)));
    if (::rmdir(path.c_str()) != 0)
        keepFirst(first, failure(errno, path));
    return first;
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

uint64_t FileManager::sizeOf(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

Failure FileManager::linkOrCopyFile(const OpenFolder& sourceFolder, const std::string& sourceName,
                                    const OpenFolder& targetFolder, const std::string& targetName)
{
    if (::linkat(sourceFolder.fd(), sourceName.c_str(), targetFolder.fd(), targetName.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return std::nullopt;
    const std::string source = sourceFolder.pathOf(sourceName);
    const std::string target = targetFolder.pathOf(targetName);
    if (errno == EEXIST)
        return failure(EEXIST, target);
    struct stat info {};
    if (::fstatat(sourceFolder.fd(), sourceName.c_str(), &info, 0) != 0)
        return failure(errno, source);
    return copyFileData(source, target, info, 0);
}

Failure FileManager::moveItem(const std::string& source, const std::string& target)
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
    if (Error copied = copyFileData(source, target, info, O_NOFOLLOW)) {
        removeAny(target);
        return copied;
    }
    return removeItem(source);
}

Failure FileManager::removeItem(const std::string& path)
{
    return removeAny(path);
}

Failure FileManager::createDirectory(const std::string& path, unsigned mode)
{
    if (path.empty())
        return failure(ENOENT, path);
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && part.back() != '/' && ::mkdir(part.c_str(), mode) != 0 && errno != EEXIST)
            return failure(errno, part);
        if (slash == std::string::npos)
            break;
    }
    if (!isDirectory(path))
        return failure(exists(path) ? EEXIST : ENOENT, path);
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

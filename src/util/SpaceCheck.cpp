#include "SpaceCheck.h"

#include "OpenFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// A zip entry costs a local header, a central header and its name twice
// beside its data; names are rarely longer than this.
constexpr uint64_t kBytesPerEntry = 30 + 46 + 2 * 256;
// The end record, and room for the writer's own temporary file names.
constexpr uint64_t kBytesPerArchive = 64 * 1024;

uint64_t folderBytes(const OpenFolder& folder, const std::function<bool()>& abandoned)
{
    uint64_t total = 0;
    const int listing = ::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return 0;
    }
    if (folder.isSystemFileSystem()) {
        ::closedir(dir);
        return 0;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || abandoned())
            continue;
        struct stat info {};
        if (::fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISLNK(info.st_mode) && ::fstatat(folder.fd(), name.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode))
            total += static_cast<uint64_t>(info.st_size);
        else if (S_ISREG(info.st_mode))
            total += static_cast<uint64_t>(info.st_size);
        else if (S_ISDIR(info.st_mode))
            if (const auto below = OpenFolder::open(folder, name, folder.pathOf(name)))
                total += folderBytes(*below, abandoned);
    }
    ::closedir(dir);
    return total;
}

} // namespace

uint64_t SpaceCheck::bytesToCopy(const std::vector<std::string>& items, dev_t workDevice,
                                 const std::function<bool()>& abandoned)
{
    uint64_t total = 0;
    for (const std::string& item : items) {
        struct stat info {};
        if (abandoned() || ::stat(item.c_str(), &info) != 0 || info.st_dev == workDevice)
            continue;
        if (S_ISREG(info.st_mode))
            total += static_cast<uint64_t>(info.st_size);
        else if (S_ISDIR(info.st_mode))
            if (const auto folder = OpenFolder::open(*OpenFolder::working(), item, item))
                total += folderBytes(*folder, abandoned);
    }
    return total;
}

uint64_t SpaceCheck::archiveBound(uint64_t totalBytes, int entryCount)
{
    return totalBytes + kBytesPerEntry * static_cast<uint64_t>(entryCount) + kBytesPerArchive;
}

std::optional<SpaceCheck::Shortage> SpaceCheck::shortageFor(const std::string& folder, uint64_t bytes)
{
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) != 0)
        return std::nullopt;
    const uint64_t free = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
    if (free >= bytes)
        return std::nullopt;
    return Shortage{folder, bytes - free};
}

dev_t SpaceCheck::deviceOf(const std::string& folder)
{
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 ? info.st_dev : 0;
}

#include "SpaceCheck.h"

#include "OpenFolder.h"
#include "WorkJournal.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// A zip entry costs a local header, a central header and its name twice
// beside its data; names are rarely longer than this.
constexpr uint64_t kBytesPerEntry = 30 + 46 + 2 * 256;
// The end record, and room for the writer's own temporary file names.
constexpr uint64_t kBytesPerArchive = 64 * 1024;
// The fixed parts of a local header, a central header and the end record,
// and the header encryption puts before a file's data.
constexpr uint64_t kLocalHeader = 30;
constexpr uint64_t kCentralHeader = 46;
constexpr uint64_t kEndRecord = 22;
constexpr uint64_t kEncryptionHeader = 12;

// Bytes of a file that staging copies into a work folder that takes no
// symbolic links: none where a hard link stands for it.
uint64_t copiedBytes(const struct stat& info, const SpaceCheck::WorkLinks& work)
{
    return work.hard && info.st_dev == work.device ? 0 : static_cast<uint64_t>(info.st_size);
}

uint64_t folderBytes(const OpenFolder& folder, const SpaceCheck::WorkLinks& work,
                     const std::function<bool()>& abandoned)
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
        // Staging leaves a job's part file out, and it grows or goes meanwhile.
        if (S_ISREG(info.st_mode) && WorkJournal::isPartName(name))
            continue;
        if (S_ISLNK(info.st_mode) && ::fstatat(folder.fd(), name.c_str(), &info, 0) == 0 && S_ISREG(info.st_mode))
            total += copiedBytes(info, work);
        else if (S_ISREG(info.st_mode))
            total += copiedBytes(info, work);
        else if (S_ISDIR(info.st_mode))
            if (const auto below = OpenFolder::open(folder, name, folder.pathOf(name)))
                total += folderBytes(*below, work, abandoned);
    }
    ::closedir(dir);
    return total;
}

// File systems of the kinds Linux is installed on take hard and symbolic
// links alike; another kind (vfat, exfat, a network share) is tried.
bool takesEveryLink(const std::string& folder)
{
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0)
        return false;
    const std::initializer_list<unsigned long> known = {EXT4_SUPER_MAGIC, XFS_SUPER_MAGIC, BTRFS_SUPER_MAGIC,
                                                         TMPFS_MAGIC, F2FS_SUPER_MAGIC};
    return std::ranges::find(known, static_cast<unsigned long>(info.f_type)) != known.end();
}

} // namespace

SpaceCheck::WorkLinks SpaceCheck::linksIn(const std::string& folder)
{
    WorkLinks links;
    links.device = deviceOf(folder);
    if (takesEveryLink(folder))
        return links;
    std::string probe = folder + "/.links-XXXXXX";
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) // staging will meet the same trouble and tell it
        return links;
    ::close(fd);
    const std::string hard = probe + ".hard", symbolic = probe + ".symbolic";
    links.hard = ::link(probe.c_str(), hard.c_str()) == 0;
    links.symbolic = ::symlink(probe.c_str(), symbolic.c_str()) == 0;
    for (const std::string& made : {hard, symbolic, probe})
        ::unlink(made.c_str());
    return links;
}

uint64_t SpaceCheck::bytesToCopy(const std::vector<std::string>& items, const WorkLinks& work,
                                 const std::function<bool()>& abandoned)
{
    // A symbolic link stands for any file: there is nothing to walk.
    if (work.symbolic)
        return 0;
    uint64_t total = 0;
    for (const std::string& item : items) {
        struct stat info {};
        // Hard links stand for a tree on the work folder's own file system,
        // as they did before: it is not walked.
        if (abandoned() || ::stat(item.c_str(), &info) != 0 || (work.hard && info.st_dev == work.device))
            continue;
        if (S_ISREG(info.st_mode))
            total += copiedBytes(info, work);
        else if (S_ISDIR(info.st_mode))
            if (const auto folder = OpenFolder::open(*OpenFolder::working(), item, item))
                total += folderBytes(*folder, work, abandoned);
    }
    return total;
}

uint64_t SpaceCheck::archiveBound(uint64_t totalBytes, int entryCount)
{
    return totalBytes + kBytesPerEntry * static_cast<uint64_t>(entryCount) + kBytesPerArchive;
}

uint64_t SpaceCheck::archiveFloor(const std::vector<std::string>& entries, bool encrypted)
{
    uint64_t bytes = kEndRecord;
    for (const std::string& name : entries) {
        // Each header holds the name.
        bytes += kLocalHeader + kCentralHeader + 2 * name.size();
        if (encrypted && !name.ends_with('/'))
            bytes += kEncryptionHeader;
    }
    return bytes;
}

std::optional<SpaceCheck::Shortage> SpaceCheck::shortageFor(const std::string& folder, uint64_t bytes)
{
    struct statvfs space {};
    // A file system that tells no size (ramfs, /proc) may still take files.
    if (::statvfs(folder.c_str(), &space) != 0 || space.f_blocks == 0)
        return std::nullopt;
    const uint64_t free = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
    if (free >= bytes)
        return std::nullopt;
    return Shortage{folder, bytes - free};
}

bool SpaceCheck::isFull(const std::string& folder, uint64_t bytes)
{
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) != 0)
        return false;
    // A file system that keeps no count of its inodes (btrfs, FAT) says 0,
    // and one that tells no size (ramfs) no blocks.
    const bool noFreeInode = space.f_files > 0 && space.f_favail == 0;
    return noFreeInode || (space.f_blocks > 0 && static_cast<uint64_t>(space.f_bavail) * space.f_frsize < bytes);
}

dev_t SpaceCheck::deviceOf(const std::string& folder)
{
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 ? info.st_dev : 0;
}

#include "OpenFolder.h"

#include "PathText.h"

#include <algorithm>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace {

// File systems whose permission checks are the kernel's generic ones.
constexpr decltype(statfs::f_type) kLocalFileSystems[] = {
    EXT4_SUPER_MAGIC, BTRFS_SUPER_MAGIC, XFS_SUPER_MAGIC, F2FS_SUPER_MAGIC, TMPFS_MAGIC,
};

// File systems that show the running system.
constexpr decltype(statfs::f_type) kSystemFileSystems[] = {
    PROC_SUPER_MAGIC, SYSFS_MAGIC, DEBUGFS_MAGIC, TRACEFS_MAGIC, SECURITYFS_MAGIC, CGROUP_SUPER_MAGIC,
    CGROUP2_SUPER_MAGIC, DEVPTS_SUPER_MAGIC, BPF_FS_MAGIC, PSTOREFS_MAGIC, EFIVARFS_MAGIC,
};

template <typename List>
bool holds(const List& list, decltype(statfs::f_type) type)
{
    return std::find(std::begin(list), std::end(list), type) != std::end(list);
}

} // namespace

OpenFolder::OpenFolder(UniqueFd fd, std::string path)
    : m_fd(std::move(fd))
    , m_path(std::move(path))
{
    struct statfs info {};
    if (m_fd.isOpen() && ::fstatfs(m_fd.get(), &info) == 0) {
        m_localPermissions = holds(kLocalFileSystems, info.f_type);
        m_systemFileSystem = holds(kSystemFileSystems, info.f_type);
    }
    struct stat own {};
    if (m_fd.isOpen() && ::fstat(m_fd.get(), &own) == 0)
        m_device = own.st_dev;
}

bool OpenFolder::leadsIntoSystem(const std::string& name) const
{
    const UniqueFd found(::openat(fd(), name.c_str(), O_PATH | O_CLOEXEC));
    struct statfs info {};
    return found.isOpen() && ::fstatfs(found.get(), &info) == 0 && holds(kSystemFileSystems, info.f_type);
}

std::shared_ptr<const OpenFolder> OpenFolder::working()
{
    return std::shared_ptr<const OpenFolder>(new OpenFolder(UniqueFd(), {}));
}

std::shared_ptr<const OpenFolder> OpenFolder::open(const OpenFolder& parent, const std::string& name,
                                                   const std::string& path)
{
    UniqueFd fd(::openat(parent.fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen())
        return nullptr;
    return std::shared_ptr<const OpenFolder>(new OpenFolder(std::move(fd), path));
}

int OpenFolder::fd() const
{
    return m_fd.isOpen() ? m_fd.get() : AT_FDCWD;
}

std::string OpenFolder::pathOf(const std::string& name) const
{
    return PathText::below(m_path, name);
}

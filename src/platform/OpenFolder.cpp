#include "OpenFolder.h"

#include "PathText.h"

#include <algorithm>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>

namespace {

// File systems whose permission checks are the kernel's generic ones.
constexpr decltype(statfs::f_type) kLocalFileSystems[] = {
    EXT4_SUPER_MAGIC, BTRFS_SUPER_MAGIC, XFS_SUPER_MAGIC, F2FS_SUPER_MAGIC, TMPFS_MAGIC,
};

bool hasLocalPermissions(int fd)
{
    struct statfs info {};
    return ::fstatfs(fd, &info) == 0
        && std::find(std::begin(kLocalFileSystems), std::end(kLocalFileSystems), info.f_type)
        != std::end(kLocalFileSystems);
}

} // namespace

OpenFolder::OpenFolder(UniqueFd fd, std::string path)
    : m_fd(std::move(fd))
    , m_path(std::move(path))
    , m_localPermissions(m_fd.isOpen() && ::hasLocalPermissions(m_fd.get()))
{
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

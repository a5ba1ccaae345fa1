#pragma once

#include "Failure.h"
#include "UniqueFd.h"

#include <memory>
#include <string>
#include <sys/types.h>

// A folder held open, so that names in it are reached without walking its
// whole path again: fstatat, linkat and mkdirat take it with a plain name.
// The working folder stands for "no folder": names in it are whole paths.
class OpenFolder {
public:
    // Holds no descriptor; names given with it are paths on their own.
    static std::shared_ptr<const OpenFolder> working();
    // Opens the folder called name in parent, following a link; nullptr
    // with errno set when it cannot be opened.
    static std::shared_ptr<const OpenFolder> open(const OpenFolder& parent, const std::string& name,
                                                  const std::string& path);

    int fd() const;
    // True when the kernel alone decides from the mode bits and ACLs who may
    // read what in this folder, as on ext4, btrfs, xfs, f2fs and tmpfs; not
    // for network and FUSE file systems, whose servers may refuse what the
    // bits allow, nor for the working folder.
    bool hasLocalPermissions() const { return m_localPermissions; }
    // True on the kernel's own file systems (proc, sysfs and the like),
    // which show the running system, not anyone's files.
    bool isSystemFileSystem() const { return m_systemFileSystem; }
    // True when name in this folder, a link followed, lies on one of those;
    // opening it for this never blocks, not even on a pipe.
    bool leadsIntoSystem(const std::string& name) const;
    // The device the folder lies on; 0 for the working folder. What lies on
    // another device in it is mounted there.
    dev_t device() const { return m_device; }
    const std::string& path() const { return m_path; }
    // Where name in this folder is, for messages and the slow paths.
    std::string pathOf(const std::string& name) const;

private:
    OpenFolder(UniqueFd fd, std::string path);

    UniqueFd m_fd;
    std::string m_path;
    bool m_localPermissions = false;
    bool m_systemFileSystem = false;
    dev_t m_device = 0;
};

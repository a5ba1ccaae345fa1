#include "TmpfsMounts.h"

#include <sys/mount.h>

TmpfsMounts::~TmpfsMounts()
{
    unmountAll();
}

bool TmpfsMounts::mount(const std::string& folder, const std::string& options)
{
    return mountOfType(folder, "tmpfs", options);
}

bool TmpfsMounts::mountOfType(const std::string& folder, const std::string& type, const std::string& options)
{
    if (::mount(type.c_str(), folder.c_str(), type.c_str(), 0, options.c_str()) != 0)
        return false;
    m_folders.push_back(folder);
    return true;
}

void TmpfsMounts::unmountAll()
{
    // The last mounted first: one may lie inside another.
    for (auto folder = m_folders.rbegin(); folder != m_folders.rend(); ++folder)
        ::umount2(folder->c_str(), MNT_DETACH);
    m_folders.clear();
}

#include "TmpfsMounts.h"

#include <sys/mount.h>

TmpfsMounts::~TmpfsMounts()
{
    unmountAll();
}

bool TmpfsMounts::mount(const std::string& folder, const std::string& options)
{
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0)
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

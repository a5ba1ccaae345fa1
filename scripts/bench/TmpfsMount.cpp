#include "TmpfsMount.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>

TmpfsMount::TmpfsMount(const std::string& folder)
    : m_folder(folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    // The size is a ceiling: a tmpfs takes memory only for what it holds.
    if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=4g,mode=0700") == 0)
        m_mounted = true;
    else
        m_failure = std::string("cannot mount a tmpfs on ") + folder + ": " + std::strerror(errno)
            + (errno == EPERM ? " (it needs root)" : "");
}

TmpfsMount::~TmpfsMount()
{
    // Lazily, should anything still hold a file there.
    if (m_mounted && ::umount(m_folder.c_str()) != 0)
        ::umount2(m_folder.c_str(), MNT_DETACH);
}

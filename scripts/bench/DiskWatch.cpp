#include "DiskWatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

namespace {

// Allocated bytes of the folder open at descriptor folder and everything
// below it; closes the descriptor.
uint64_t bytesOfFolder(int folder)
{
    DIR* listing = ::fdopendir(folder);
    if (!listing) {
        ::close(folder);
        return 0;
    }
    uint64_t bytes = 0;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat status {};
        if (::fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone meanwhile
        bytes += static_cast<uint64_t>(status.st_blocks) * 512;
        if (S_ISDIR(status.st_mode)) {
            const int below = ::openat(folder, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (below >= 0)
                bytes += bytesOfFolder(below);
        }
    }
    ::closedir(listing);
    return bytes;
}

} // namespace

DiskWatch::DiskWatch(const std::string& folder)
    : m_folder(folder)
{
    m_thread = std::thread([this] {
        while (!m_stopping) {
            const uint64_t now = bytesBelow(m_folder);
            m_peak = std::max(m_peak.load(), now);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
}

DiskWatch::~DiskWatch()
{
    stop();
}

uint64_t DiskWatch::stop()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    return m_peak;
}

uint64_t DiskWatch::bytesBelow(const std::string& folder)
{
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0)
        return 0;
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return static_cast<uint64_t>(status.st_blocks) * 512 + (descriptor >= 0 ? bytesOfFolder(descriptor) : 0);
}

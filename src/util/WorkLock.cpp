#include "WorkLock.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>

WorkLock::WorkLock(const std::string& folder, const std::function<bool()>& giveUp)
    : m_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    if (!m_fd.isOpen())
        return;
    // The lock goes with the descriptor, so a process that dies frees it.
    while (!giveUp()) {
        if (::flock(m_fd.get(), LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

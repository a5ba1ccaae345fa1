#include "PidListFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

PidListFile::PidListFile(const char* path)
    : m_fd(::open(path, O_RDONLY | O_CLOEXEC))
{
}

PidListFile::~PidListFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

pid_t PidListFile::next()
{
    pid_t value = 0;
    bool inNumber = false;
    for (;;) {
        if (m_position == m_size && !refill())
            return inNumber ? value : 0;
        const char c = m_buffer[m_position++];
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
            inNumber = true;
        } else if (inNumber) {
            return value;
        }
    }
}

// A number may straddle two reads: next() keeps its digits while the buffer
// is filled again.
bool PidListFile::refill()
{
    if (m_fd < 0)
        return false;
    ssize_t count = 0;
    do
        count = ::read(m_fd, m_buffer, sizeof m_buffer);
    while (count < 0 && errno == EINTR);
    if (count <= 0)
        return false;
    m_size = static_cast<int>(count);
    m_position = 0;
    return true;
}

#pragma once

#include <cstddef>

// Owns one open file descriptor and closes it when it goes.
class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    ~UniqueFd();
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int release();

    // Writes all of data, going on after interruptions by signals. False
    // when the descriptor refuses (errno tells why).
    static bool writeAll(int fd, const char* data, std::size_t size);

private:
    int m_fd;
};

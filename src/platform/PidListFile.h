#pragma once

#include <sys/types.h>

// The process ids listed in a /proc file such as /proc/PID/task/TID/children,
// read with plain system calls into a buffer of its own. Nothing allocates or
// throws, so the supervisor of a child process reads its children with it
// after fork; a file that cannot be opened, or whose process has gone, reads
// as an empty list.
class PidListFile {
public:
    explicit PidListFile(const char* path);
    ~PidListFile();
    PidListFile(const PidListFile&) = delete;
    PidListFile& operator=(const PidListFile&) = delete;

    // The next id in the file, or 0 after the last.
    pid_t next();

private:
    bool refill();

    int m_fd;
    char m_buffer[256];
    int m_size = 0;
    int m_position = 0;
};

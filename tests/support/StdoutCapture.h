#pragma once

#include <string>
#include <vector>

// Redirects standard output (file descriptor 1, which Log::line and child
// processes write to) into a temporary file while it lives.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Everything written so far, and the same split into lines.
    std::string text() const;
    std::vector<std::string> lines() const;

private:
    int m_savedFd = -1;
    int m_fileFd = -1;
};

#include "StdoutCapture.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    char name[] = "/tmp/quillmere-stdout-XXXXXX";
    m_fileFd = ::mkstemp(name);
    ::unlink(name);
    m_savedFd = ::dup(STDOUT_FILENO);
    ::dup2(m_fileFd, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    ::dup2(m_savedFd, STDOUT_FILENO);
    ::close(m_savedFd);
    ::close(m_fileFd);
}

std::string StdoutCapture::text() const
{
    std::fflush(stdout);
    std::string content;
    char buffer[8192];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(m_fileFd, buffer, sizeof buffer, at);
        if (n <= 0)
            break;
        content.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    return content;
}

std::vector<std::string> StdoutCapture::lines() const
{
    std::vector<std::string> result;
    std::istringstream stream(text());
    for (std::string line; std::getline(stream, line);)
        result.push_back(line);
    return result;
}

#include "StdoutCapture.h"

#include <algorithm>
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
    std::string content(static_cast<size_t>(::lseek(m_fileFd, 0, SEEK_END)), '\0');
    content.resize(static_cast<size_t>(std::max<ssize_t>(0, ::pread(m_fileFd, content.data(), content.size(), 0))));
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

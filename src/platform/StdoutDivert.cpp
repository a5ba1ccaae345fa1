#include "StdoutDivert.h"

#include "Log.h"
#include "LogPrefix.h"
#include "Failure.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

StdoutDivert::StdoutDivert()
{
    // Close-on-exec: the programs of a job must not reach the result's
    // stream, nor keep it open after the process has ended.
    UniqueFd original(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
    if (!original.isOpen() || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        Log::line(LogPrefix::kDivertOutput + describeErrno(errno, "standard output"));
        return;
    }
    m_original = std::move(original);
}

StdoutDivert::~StdoutDivert()
{
    if (m_original.isOpen())
        ::dup2(m_original.get(), STDOUT_FILENO);
}

bool StdoutDivert::writeOriginal(const std::string& text) const
{
    const int fd = m_original.isOpen() ? m_original.get() : STDOUT_FILENO;
    if (UniqueFd::writeAll(fd, text.data(), text.size()))
        return true;
    // A result that did not arrive (a full disk behind "> report.json") is
    // told where the other lines go; a stream that could not be diverted
    // was told at the start.
    if (m_original.isOpen())
        Log::line(LogPrefix::kWriteReport + describeErrno(errno, "standard output"));
    return false;
}

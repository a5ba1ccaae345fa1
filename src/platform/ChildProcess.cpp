#include "ChildProcess.h"

#include "Failure.h"
#include "OutputLines.h"
#include "ProcessSupervisor.h"
#include "ProcessText.h"
#include "ProcessTree.h"
#include "SupervisorProcess.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/wait.h>

ChildProcess::ChildProcess(QObject* parent)
    : QObject(parent)
    , m_process(new SupervisorProcess(this))
{
    connect(m_process, &SupervisorProcess::exited, this, &ChildProcess::onExited);
}

ChildProcess::~ChildProcess()
{
    disconnect(m_process, nullptr, this, nullptr);
    if (!m_process->isRunning())
        return;
    terminate();
    // The supervisor is reaped once it has ended, which the window's thread
    // does not wait for. Should the application end first, the kernel still
    // sends the supervisor its SIGTERM.
    m_process->setParent(nullptr);
    connect(m_process, &SupervisorProcess::exited, m_process, &QObject::deleteLater);
}

std::optional<std::string> ChildProcess::start(const std::string& program,
                                               const std::vector<std::string>& arguments,
                                               const std::vector<std::string>& environment)
{
    if (m_inputError != 0) {
        m_ended = true;
        m_startError = std::string("socketpair: ") + std::strerror(m_inputError) + ": " + program;
        return m_startError;
    }
    // The program gets its arguments and environment as the exact bytes:
    // names on Linux need not be UTF-8.
    const ProcessSupervisor supervisor(program, arguments, ProcessText::environmentWith(environment),
                                       m_output ? m_output->writeEnd() : -1, m_childInput.get());
    const std::optional<std::string> error = m_process->start(supervisor);
    if (m_output)
        m_output->closeWriteEnd();
    m_childInput = UniqueFd();
    if (error) {
        m_ended = true;
        m_startError = *error + ": " + program;
        return m_startError;
    }
    return std::nullopt;
}

void ChildProcess::passOutputLinesTo(std::function<void(const std::string& line)> handler)
{
    m_output = new OutputLines(std::move(handler), this);
}

void ChildProcess::takeInputLater()
{
    // A socket, not a pipe: writing to a child that has ended then fails
    // with EPIPE instead of raising SIGPIPE in the application.
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        // Without a stream of its own the child would read the
        // application's standard input (a terminal, or a file a script
        // passed): it is not started at all.
        m_inputError = errno;
        return;
    }
    m_input = UniqueFd(ends[0]);
    m_childInput = UniqueFd(ends[1]);
    // Only written to, never read from.
    ::shutdown(ends[0], SHUT_RD);
    ::shutdown(ends[1], SHUT_WR);
}

bool ChildProcess::sendInput(const std::string& data)
{
    if (!m_input.isOpen())
        return false;
    bool sent = true;
    for (size_t done = 0; sent && done < data.size();) {
        const ssize_t written = ::send(m_input.get(), data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (written > 0)
            done += size_t(written);
        else if (written < 0 && errno != EINTR)
            sent = false;
    }
    m_input = UniqueFd();
    return sent;
}

bool ChildProcess::succeeded() const
{
    return exitCode() == 0;
}

int ChildProcess::exitCode() const
{
    return exitedNormally() ? WEXITSTATUS(m_waitStatus) : -1;
}

std::string ChildProcess::exitDescription() const
{
    if (!m_startError.empty())
        return "could not be started (" + m_startError + ")";
    if (!m_ended)
        return "is still running";
    if (WIFSIGNALED(m_waitStatus))
        return "was killed by signal " + std::to_string(WTERMSIG(m_waitStatus));
    return "exited with status " + std::to_string(WEXITSTATUS(m_waitStatus));
}

bool ChildProcess::startHitSystemLimit() const
{
    const int error = m_inputError != 0 ? m_inputError : m_process->startError();
    // fork's EAGAIN: the user's limit on processes.
    return isSystemLimit(error) || error == EAGAIN;
}

uint64_t ChildProcess::bytesRead() const
{
    if (!m_process->isRunning())
        return 0;
    return ProcessTree(m_process->pid()).bytesRead();
}

void ChildProcess::terminate()
{
    // The supervisor takes SIGTERM as the word to end the program and
    // everything below it.
    m_process->terminate();
}

bool ChildProcess::waitForEnded(int milliseconds)
{
    return m_ended || m_process->waitForExit(milliseconds);
}

bool ChildProcess::exitedNormally() const
{
    return m_ended && m_startError.empty() && WIFEXITED(m_waitStatus);
}

void ChildProcess::onExited(int waitStatus)
{
    m_waitStatus = waitStatus;
    m_ended = true;
    if (m_output)
        m_output->readAvailable();
    emit ended();
}

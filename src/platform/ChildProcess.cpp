#include "ChildProcess.h"

#include "OutputLines.h"
#include "ProcessSupervisor.h"
#include "ProcessText.h"
#include "ProcessTree.h"
#include "SupervisorProcess.h"

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
    // The program gets its arguments and environment as the exact bytes:
    // names on Linux need not be UTF-8.
    const ProcessSupervisor supervisor(program, arguments, ProcessText::environmentWith(environment),
                                       m_output ? m_output->writeEnd() : -1);
    const std::optional<std::string> error = m_process->start(supervisor);
    if (m_output)
        m_output->closeWriteEnd();
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

#include "SupervisorProcess.h"

#include "Log.h"
#include "LogPrefix.h"
#include "ProcessSupervisor.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string failureOf(const char* call, int error)
{
    return std::string(call) + ": " + std::strerror(error);
}

} // namespace

SupervisorProcess::SupervisorProcess(QObject* parent)
    : QObject(parent)
{
}

SupervisorProcess::~SupervisorProcess()
{
    terminate();
}

std::optional<std::string> SupervisorProcess::start(const ProcessSupervisor& supervisor)
{
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return startFailed("pipe2", errno);
    UniqueFd readEnd(report[0]);
    const pid_t pid = fork(supervisor, report[1]);
    const int forkError = errno;
    ::close(report[1]);
    if (pid < 0)
        return startFailed("fork", forkError);
    if (auto failure = readStartFailure(readEnd.get())) {
        reapAtOnce(pid);
        return failure;
    }
    // The system call itself: glibc 2.36 declares its pidfd_open without C
    // linkage, so a C++ program cannot link to it.
    m_pidfd = UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!m_pidfd.isOpen()) {
        const int error = errno;
        ::kill(pid, SIGTERM);
        reapAtOnce(pid);
        return startFailed("pidfd_open", error);
    }
    m_pid = pid;
    m_exitNotifier = new QSocketNotifier(m_pidfd.get(), QSocketNotifier::Read, this);
    connect(m_exitNotifier, &QSocketNotifier::activated, this, &SupervisorProcess::onExited);
    return std::nullopt;
}

void SupervisorProcess::terminate() const
{
    if (m_pid > 0)
        ::kill(m_pid, SIGTERM);
}

bool SupervisorProcess::waitForExit(int milliseconds)
{
    if (m_pid <= 0)
        return true;
    pollfd ending{m_pidfd.get(), POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&ending, 1, milliseconds);
    while (ready < 0 && errno == EINTR);
    if (ready == 1)
        onExited();
    return m_pid <= 0;
}

// The child starts with every signal blocked, so that none of the
// application's handlers runs in it before the supervisor has set its own
// signals up; the program gets the application's mask back.
pid_t SupervisorProcess::fork(const ProcessSupervisor& supervisor, int reportFd) const
{
    sigset_t all;
    sigset_t original;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &original);
    const pid_t pid = ::_Fork();
    if (pid == 0)
        supervisor.run(reportFd, original);
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &original, nullptr);
    errno = error;
    return pid;
}

// The pipe closes without a word once the program runs; a failed start
// writes its errno first.
std::optional<std::string> SupervisorProcess::readStartFailure(int reportFd)
{
    int error = 0;
    ssize_t count = 0;
    do
        count = ::read(reportFd, &error, sizeof error);
    while (count < 0 && errno == EINTR);
    if (count == 0)
        return std::nullopt;
    if (count < 0)
        return startFailed("read", errno);
    m_startError = count == sizeof error ? error : EIO;
    return std::strerror(m_startError);
}

std::string SupervisorProcess::startFailed(const char* call, int error)
{
    m_startError = error;
    return failureOf(call, error);
}

// For a supervisor that is ending already: a start that failed ends it.
void SupervisorProcess::reapAtOnce(pid_t pid)
{
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

void SupervisorProcess::onExited()
{
    endGroupOfKilled();
    int status = 0;
    pid_t reaped = 0;
    do
        reaped = ::waitpid(m_pid, &status, WNOHANG);
    while (reaped < 0 && errno == EINTR);
    if (reaped == 0)
        return; // the pidfd is readable only at the end: nothing yet
    if (reaped < 0) {
        Log::line(LogPrefix::kProcessEnd + std::to_string(m_pid) + " is unknown: " + failureOf("waitpid", errno));
        status = W_EXITCODE(0, SIGKILL);
    }
    m_pid = -1;
    m_exitNotifier->setEnabled(false);
    m_exitNotifier->deleteLater();
    m_exitNotifier = nullptr;
    m_pidfd = UniqueFd();
    emit exited(status);
}

// A supervisor ends its program's tree before it exits; one killed outright
// (SIGKILL) could not, and its program, which the kernel then kills, may
// leave its own children running. They are in the supervisor's process
// group. It is ended while the supervisor is still unreaped, so that its id
// cannot yet belong to anyone else.
void SupervisorProcess::endGroupOfKilled() const
{
    siginfo_t ended {};
    int result = 0;
    do
        result = ::waitid(P_PID, static_cast<id_t>(m_pid), &ended, WEXITED | WNOHANG | WNOWAIT);
    while (result < 0 && errno == EINTR);
    if (result == 0 && ended.si_pid == m_pid && (ended.si_code == CLD_KILLED || ended.si_code == CLD_DUMPED))
        ::kill(-m_pid, SIGKILL);
}

#include "ProcessSupervisor.h"

#include "ProcessText.h"
#include "ProgramWatch.h"

#include <cerrno>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// The status of a process whose parent was gone before it could begin: no
// one is left to read it.
const int kParentGone = 126;
// The status of a start that failed, as a shell gives it.
const int kCannotStart = 127;

// The application's handlers are no use here: one run in this copy of the
// application would act on the application's descriptors. The program gets
// the default actions from its exec anyway, and SIGPIPE, which Qt may have
// the application ignore, as well.
void resetSignalActions()
{
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0)
            continue;
        if (signal == SIGPIPE || (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN))
            ::sigaction(signal, &byDefault, nullptr);
    }
}

[[noreturn]] void failStart(int reportFd, int error)
{
    if (::write(reportFd, &error, sizeof error) < 0) {
        // The application then reads the pipe's end without a word from
        // it, and learns of the failure from the status.
    }
    ::_exit(kCannotStart);
}

} // namespace

ProcessSupervisor::ProcessSupervisor(const std::string& program, const std::vector<std::string>& arguments,
                                     std::vector<std::string> environment, int outputFd, int inputFd)
    : m_application(::getpid())
    , m_outputFd(outputFd)
    , m_inputFd(inputFd)
    , m_envp(std::move(environment))
{
    m_argv.push_back(program);
    m_argv.insert(m_argv.end(), arguments.begin(), arguments.end());
    m_argPointers = ProcessText::pointersTo(m_argv);
    m_envPointers = ProcessText::pointersTo(m_envp);
}

void ProcessSupervisor::run(int reportFd, const sigset_t& programMask) const
{
    resetSignalActions();
    ::setpgid(0, 0);
    // However the application ends, even by SIGKILL, the kernel then sends
    // SIGTERM here, and the job ends with it. Every signal stays blocked:
    // the watch takes the ones it wants with sigwaitinfo, so none is lost
    // before it begins.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != m_application)
        ::_exit(kParentGone); // it ended before the line above took effect
    // Orphans below this process become its children, not init's.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    // The program inherits none of the application's descriptors (its
    // display and bus connections, files it has open): every one above the
    // standard streams closes at the program's exec. The report's end is
    // close-on-exec already.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    const pid_t program = startProgram(reportFd, programMask);
    // The application waits for the report's end: it closes here, whatever
    // becomes of the rest. The application's descriptors are no business
    // of the supervisor's either.
    ::close(reportFd);
    ::close_range(3, ~0U, 0);
    ProgramWatch(program).run();
}

pid_t ProcessSupervisor::startProgram(int reportFd, const sigset_t& programMask) const
{
    const pid_t supervisor = ::getpid();
    // vfork, not fork: this process is a copy of the whole application, and
    // a second copy of it, only to be thrown away at the exec, cost some
    // milliseconds at every start. The program borrows the supervisor's
    // memory until its exec (or its _exit), the supervisor waiting; until
    // then it makes system calls only. Like _Fork it runs none of the
    // application's fork handlers.
    const pid_t program = ::vfork();
    if (program == 0)
        becomeProgram(supervisor, reportFd, programMask);
    if (program < 0)
        failStart(reportFd, errno);
    return program;
}

void ProcessSupervisor::becomeProgram(pid_t supervisor, int reportFd, const sigset_t& programMask) const
{
    // Should the supervisor itself be killed, the program goes with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != supervisor)
        ::_exit(kParentGone);
    ::sigprocmask(SIG_SETMASK, &programMask, nullptr);
    // The copies dup2 makes are not close-on-exec, unlike outputFd and
    // inputFd.
    if (m_outputFd >= 0 && (::dup2(m_outputFd, STDOUT_FILENO) < 0 || ::dup2(m_outputFd, STDERR_FILENO) < 0))
        failStart(reportFd, errno);
    if (m_inputFd >= 0 && ::dup2(m_inputFd, STDIN_FILENO) < 0)
        failStart(reportFd, errno);
    char* const* args = m_argPointers.data();
    // execvpe would hand a file that is not a program to /bin/sh.
    if (std::strchr(args[0], '/'))
        ::execve(args[0], args, m_envPointers.data());
    else
        ::execvpe(args[0], args, m_envPointers.data());
    failStart(reportFd, errno);
}

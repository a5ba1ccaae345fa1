#include "ProgramWatch.h"

#include "PidListFile.h"

#include <cerrno>
#include <ctime>
#include <initializer_list>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// How long one round of ending waits for a killed child before it lists
// the children again: the kernel's list may miss a child that is being
// born, and orphans arrive without a signal.
const long kRoundNanoseconds = 10'000'000;
// The status of a supervisor that has lost its program without learning
// how it ended: it cannot happen while the program is its child.
const int kProgramLost = 125;

} // namespace

sigset_t ProgramWatch::watchedSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&signals, signal);
    return signals;
}

void ProgramWatch::run()
{
    const sigset_t watched = watchedSignals();
    for (;;) {
        const int signal = ::sigwaitinfo(&watched, nullptr);
        if (signal < 0)
            continue;
        if (signal == SIGCHLD) {
            // Orphans that ended are reaped here too.
            reapEnded();
            if (!m_programEnded)
                continue;
        }
        // What the program left behind goes with it; an ending job takes
        // the program as well.
        endDescendants();
        exitAsProgram();
    }
}

ProgramWatch::Reaped ProgramWatch::reapEnded()
{
    Reaped reaped = Reaped::None;
    for (;;) {
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, WNOHANG);
        if (pid < 0 && errno == EINTR)
            continue;
        if (pid <= 0)
            return pid < 0 && errno == ECHILD ? Reaped::Last : reaped;
        reaped = Reaped::Some;
        if (pid == m_program) {
            m_status = status;
            m_programEnded = true;
        }
    }
}

// Every process below the supervisor is its child or will become one: a
// killed process's children pass to the supervisor, the subreaper, before
// the killed one can be reaped. So killing the children it has, round after
// round, until none is left, reaches them all.
void ProgramWatch::endDescendants()
{
    for (;;) {
        killChildren();
        switch (reapEnded()) {
        case Reaped::Last:
            return;
        case Reaped::None:
            waitForChild();
            break;
        case Reaped::Some:
            break;
        }
    }
}

void ProgramWatch::killChildren()
{
    PidListFile children("/proc/thread-self/children");
    while (const pid_t child = children.next())
        ::kill(child, SIGKILL);
}

void ProgramWatch::waitForChild()
{
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    const timespec round{0, kRoundNanoseconds};
    ::sigtimedwait(&childSignal, nullptr, &round);
}

// The application sees the program's own end: its exit status, or the
// signal that killed it, raised again here with its default action. Such a
// signal may be one that dumps core: this process is a copy of the
// application, and no core of it is wanted.
void ProgramWatch::exitAsProgram() const
{
    if (!m_programEnded)
        ::_exit(kProgramLost);
    if (WIFEXITED(m_status))
        ::_exit(WEXITSTATUS(m_status));
    const int signal = WTERMSIG(m_status);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    ::sigaction(signal, &byDefault, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

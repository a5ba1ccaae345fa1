#pragma once

#include <csignal>
#include <sys/types.h>

// The supervisor's watch over the program it started (see
// ProcessSupervisor). It takes the watched signals, which the supervisor
// keeps blocked, with sigwaitinfo: SIGCHLD, and SIGTERM, SIGINT or SIGHUP,
// which end the job. When the program ends, or the job is ended, it kills every
// process still below the supervisor and ends the supervisor as the program
// ended. Async-signal-safe throughout: it runs in the child of a fork.
class ProgramWatch {
public:
    explicit ProgramWatch(pid_t program) : m_program(program) {}

    static sigset_t watchedSignals();

    [[noreturn]] void run();

private:
    enum class Reaped { None, Some, Last };

    Reaped reapEnded();
    void endDescendants();
    [[noreturn]] void exitAsProgram() const;
    static void killChildren();
    static void waitForChild();

    pid_t m_program;
    int m_status = 0;
    bool m_programEnded = false;
};

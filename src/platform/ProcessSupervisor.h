#pragma once

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

// What the child of the application's fork does (see SupervisorProcess):
// instead of becoming the program, it stays behind as the program's parent
// and ends the program, and everything the program started, when the
// application ends it with SIGTERM or ends itself, even by SIGKILL (the
// kernel then sends the SIGTERM). The program's processes cannot slip away:
// expect starts its programs in sessions of their own, which no process
// group reaches, but every orphan below the supervisor becomes its child.
//
// Made before the fork, where everything it needs is allocated; run() runs
// after it, in a copy of a process with other threads, and makes only
// async-signal-safe calls.
class ProcessSupervisor {
public:
    // environment: every "NAME=value" the program gets. The program is
    // looked up in $PATH when its name has no "/". outputFd, when not -1,
    // becomes the program's standard output and error; inputFd, when not
    // -1, its standard input.
    ProcessSupervisor(const std::string& program, const std::vector<std::string>& arguments,
                      std::vector<std::string> environment, int outputFd = -1, int inputFd = -1);
    ProcessSupervisor(const ProcessSupervisor&) = delete;
    ProcessSupervisor& operator=(const ProcessSupervisor&) = delete;

    // Starts the program with programMask as its signal mask, watches it,
    // and ends this process as the program ended: with its exit status, or
    // by the signal that killed it. reportFd, a close-on-exec pipe, gets the
    // errno of a failed start, and the status is then 127; the pipe closes
    // without a word once the program runs. Expects every signal blocked.
    [[noreturn]] void run(int reportFd, const sigset_t& programMask) const;

private:
    pid_t startProgram(int reportFd, const sigset_t& programMask) const;
    [[noreturn]] void becomeProgram(pid_t supervisor, int reportFd, const sigset_t& programMask) const;

    pid_t m_application;
    int m_outputFd;
    int m_inputFd;
    std::vector<std::string> m_argv;
    std::vector<std::string> m_envp;
    std::vector<char*> m_argPointers;
    std::vector<char*> m_envPointers;
};

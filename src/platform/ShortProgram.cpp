#include "ShortProgram.h"

#include "ProcessText.h"
#include "UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// What posix_spawn is told: the output pipe as standard output and error,
// nothing to read, no signal blocked, and the default action for each
// signal this process may ignore or handle (handlers go with the exec, an
// ignored signal would stay ignored).
class SpawnSettings {
public:
    explicit SpawnSettings(int outputFd)
    {
        ::posix_spawn_file_actions_init(&m_actions);
        ::posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_adddup2(&m_actions, outputFd, STDOUT_FILENO);
        ::posix_spawn_file_actions_adddup2(&m_actions, outputFd, STDERR_FILENO);
        ::posix_spawnattr_init(&m_attributes);
        sigset_t none;
        ::sigemptyset(&none);
        ::posix_spawnattr_setsigmask(&m_attributes, &none);
        sigset_t byDefault;
        ::sigemptyset(&byDefault);
        for (const int signal : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGCHLD})
            ::sigaddset(&byDefault, signal);
        ::posix_spawnattr_setsigdefault(&m_attributes, &byDefault);
        ::posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSettings()
    {
        ::posix_spawn_file_actions_destroy(&m_actions);
        ::posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attributes() const { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

// Appends what the pipe holds now; false once it has ended (closed by the
// program and read to its end, or failing).
bool readAvailable(int fd, std::string& said)
{
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count > 0)
            said.append(buffer, static_cast<size_t>(count));
        else if (count < 0 && errno == EINTR)
            continue;
        else
            return count < 0 && errno == EAGAIN;
    }
}

// Waits until the process has ended and reaps it; false when it has not
// by then.
bool reapWithin(pid_t pid, int pidfd, int milliseconds, int& waitStatus)
{
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const pid_t reaped = ::waitpid(pid, &waitStatus, WNOHANG);
        if (reaped == pid)
            return true;
        if (reaped < 0 && errno != EINTR)
            return false;
        const int left = millisecondsUntil(until);
        if (left == 0)
            return false;
        pollfd ended {pidfd, POLLIN, 0};
        if (pidfd < 0 || ::poll(&ended, 1, left) < 0)
            ::usleep(1000);
    }
}

// Reads the program's output until the program has ended, which its pidfd
// tells whether or not a program it started still holds the output open
// (without a pidfd, the output's end tells); what it wrote is read to the
// end then. False when it has not ended by until.
bool readUntilExit(int output, int pidfd, Clock::time_point until, std::string& said)
{
    ::fcntl(output, F_SETFL, O_NONBLOCK);
    bool open = true;
    bool exited = false;
    while (!exited && millisecondsUntil(until) > 0) {
        pollfd ready[2] = {{open ? output : -1, POLLIN, 0}, {pidfd, POLLIN, 0}};
        if (::poll(ready, 2, millisecondsUntil(until)) < 0 && errno != EINTR)
            return false;
        if (ready[0].revents)
            open = readAvailable(output, said);
        exited = ready[1].revents || (!open && pidfd < 0);
    }
    if (exited && open)
        readAvailable(output, said);
    return exited;
}

} // namespace

std::optional<ShortProgram::Ended> ShortProgram::run(const std::vector<std::string>& arguments,
                                                     const std::vector<std::string>& environment, int milliseconds)
{
    if (arguments.empty())
        return std::nullopt;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return std::nullopt;
    UniqueFd output(ends[0]);
    UniqueFd input(ends[1]);
    std::vector<std::string> argumentTexts = arguments;
    std::vector<std::string> environmentTexts = ProcessText::environmentWith(environment);
    const std::vector<char*> argv = ProcessText::pointersTo(argumentTexts);
    const std::vector<char*> envp = ProcessText::pointersTo(environmentTexts);
    pid_t pid = -1;
    {
        const SpawnSettings settings(input.get());
        if (::posix_spawnp(&pid, argv[0], settings.actions(), settings.attributes(), argv.data(), envp.data()) != 0)
            return std::nullopt;
    }
    input = UniqueFd();
    // The system call itself: glibc 2.36 has no wrapper to declare. Without
    // it (an older kernel) the end is looked for every millisecond.
    const UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(milliseconds);
    Ended ended;
    const bool exited = readUntilExit(output.get(), pidfd.get(), until, ended.said);
    int waitStatus = 0;
    if (!exited || !reapWithin(pid, pidfd.get(), std::max(millisecondsUntil(until), 100), waitStatus)) {
        ::kill(pid, SIGKILL);
        // A program that does not go even then is left; it is not waited
        // for longer.
        reapWithin(pid, pidfd.get(), 1000, waitStatus);
        return std::nullopt;
    }
    if (!WIFEXITED(waitStatus))
        return std::nullopt;
    ended.status = WEXITSTATUS(waitStatus);
    return ended;
}

#include "ProcessTimer.h"

#include "ProcessText.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string findProgram(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    const char* path = std::getenv("PATH");
    std::stringstream folders(path && *path ? path : "/usr/local/bin:/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return name;
}

// Everything is prepared before fork: between fork and exec the child makes
// only async-signal-safe calls.
pid_t spawn(const ProcessTimer::Command& command)
{
    const std::string program = findProgram(command.arguments.front());
    std::vector<std::string> arguments = command.arguments;
    std::vector<std::string> environment = ProcessText::environmentWith(command.environment);
    std::vector<char*> argv = ProcessText::pointersTo(arguments);
    std::vector<char*> envp = ProcessText::pointersTo(environment);
    const int log = ::open(command.logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int input = ::open(command.inputFile.c_str(), O_RDONLY | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (input >= 0)
            ::dup2(input, STDIN_FILENO);
        if (log >= 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
        }
        if (!command.workingFolder.empty() && ::chdir(command.workingFolder.c_str()) != 0)
            ::_exit(126);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (log >= 0)
        ::close(log);
    if (input >= 0)
        ::close(input);
    return pid;
}

void takeUsage(const rusage& usage, ProcessTimer::Result& result)
{
    result.userSeconds = static_cast<double>(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6;
    result.systemSeconds = static_cast<double>(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6;
    result.peakWithChildrenKb = usage.ru_maxrss;
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status));
    return "ended oddly";
}

// The process's own high-water mark of resident memory, in KiB.
long ownPeakKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:"))
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

// True when an event for fileName arrived on the inotify descriptor.
bool fileEventArrived(int watch, const std::string& fileName)
{
    alignas(inotify_event) char buffer[16 * 1024];
    bool arrived = false;
    for (;;) {
        const ssize_t length = ::read(watch, buffer, sizeof buffer);
        if (length <= 0)
            return arrived;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            if (event->len > 0 && fileName == event->name)
                arrived = true;
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

// Waits for the process to end by itself, at most timeoutSeconds; true
// when it has, with its status and usage.
bool awaitEnd(pid_t pid, double timeoutSeconds, int& status, rusage& usage)
{
    const auto start = Clock::now();
    while (::wait4(pid, &status, WNOHANG, &usage) != pid) {
        if (secondsSince(start) > timeoutSeconds)
            return false;
        ::usleep(5000);
    }
    return true;
}

// Ends a process that is still running and collects its usage.
void endProcess(pid_t pid, int& status, rusage& usage)
{
    ::kill(pid, SIGTERM);
    const auto start = Clock::now();
    while (::wait4(pid, &status, WNOHANG, &usage) != pid) {
        if (secondsSince(start) > 5) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            return;
        }
        ::usleep(5000);
    }
}

} // namespace

ProcessTimer::Result ProcessTimer::run(const Command& command)
{
    Result result;
    const auto start = Clock::now();
    const pid_t pid = spawn(command);
    if (pid < 0) {
        result.failure = "fork failed";
        return result;
    }
    int status = 0;
    rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    result.seconds = secondsSince(start);
    takeUsage(usage, result);
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!result.ok)
        result.failure = command.arguments.front() + ": " + describeStatus(status);
    return result;
}

ProcessTimer::Result ProcessTimer::runUntilFileArrives(const Command& command, const std::string& folder,
                                                       const std::string& fileName, double timeoutSeconds)
{
    Result result;
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // The watch is in place before the program starts, so no arrival is missed.
    if (watch < 0 || ::inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
        result.failure = "cannot watch " + folder;
        if (watch >= 0)
            ::close(watch);
        return result;
    }
    const auto start = Clock::now();
    const pid_t pid = spawn(command);
    bool arrived = false;
    bool exited = false;
    int status = 0;
    rusage usage {};
    while (!arrived && !exited && secondsSince(start) < timeoutSeconds) {
        pollfd ready {watch, POLLIN, 0};
        ::poll(&ready, 1, 20);
        arrived = fileEventArrived(watch, fileName);
        if (arrived) {
            result.seconds = secondsSince(start);
            result.peakOwnKb = ownPeakKb(pid);
        } else {
            exited = ::wait4(pid, &status, WNOHANG, &usage) == pid;
        }
    }
    ::close(watch);
    if (arrived && !exited)
        exited = awaitEnd(pid, 60, status, usage);
    if (!exited)
        endProcess(pid, status, usage);
    takeUsage(usage, result);
    result.ok = arrived;
    if (!arrived) {
        result.failure = exited ? command.arguments.front() + " ended (" + describeStatus(status)
                                      + ") before " + fileName + " arrived"
                                : fileName + " did not arrive within " + std::to_string(int(timeoutSeconds)) + " s";
    }
    return result;
}

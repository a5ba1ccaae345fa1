#include "ProcessIdentity.h"

#include "UniqueFd.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The start time is field 22 of /proc/PID/stat. The command name in field 2
// may hold blanks and parentheses, so the fields are counted from the last
// ")". Plain reads: the process may end while it is read, which is an
// answer, not an error. A process that has ended and waits to be reaped
// (state Z, or X on its way out) runs nothing: it has no start time here.
std::optional<uint64_t> startTimeOf(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.isOpen())
        return std::nullopt;
    char text[1024];
    ssize_t size = 0;
    do
        size = ::read(file.get(), text, sizeof text - 1);
    while (size < 0 && errno == EINTR);
    if (size <= 0)
        return std::nullopt;
    text[size] = '\0';
    const char* field = std::strrchr(text, ')');
    if (!field || field[1] != ' ' || field[2] == 'Z' || field[2] == 'X')
        return std::nullopt;
    // Field 3 follows the name; 19 more blanks lead to field 22.
    for (int blanks = 0; field && blanks < 20; ++blanks)
        field = std::strchr(field + 1, ' ');
    if (!field)
        return std::nullopt;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(field + 1, &end, 10);
    if (end == field + 1)
        return std::nullopt;
    return value;
}

} // namespace

ProcessIdentity ProcessIdentity::ofThisProcess()
{
    return of(::getpid()).value_or(ProcessIdentity{::getpid(), 0});
}

std::optional<ProcessIdentity> ProcessIdentity::of(pid_t pid)
{
    if (pid <= 0)
        return std::nullopt;
    const std::optional<uint64_t> start = startTimeOf(pid);
    if (!start)
        return std::nullopt;
    return ProcessIdentity{pid, *start};
}

bool ProcessIdentity::isAlive() const
{
    const std::optional<ProcessIdentity> now = of(pid);
    return now && *now == *this;
}

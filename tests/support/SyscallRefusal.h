#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Runs a piece of work in a child process in which some system calls fail
// with a given error, as a file system or a disk would make them fail: a
// stick that keeps no permissions, a disk pulled out while data was still
// on its way. The work's answer comes back as text.
class SyscallRefusal {
public:
    struct Refusal {
        long call;  // SYS_... number
        int error;  // what the call fails with
        // Refused only where the call's first argument holds one of these
        // bits; every time when none are given.
        unsigned flags = 0;
    };

    // The work's answer; nothing when the filter could not be set up or the
    // child did not end normally.
    static std::optional<std::string> run(const std::vector<Refusal>& refusals, const std::function<std::string()>& work);
    // The same where no thread can be started, as under a limit on the
    // user's processes: the answer is "a thread was started" should one
    // be started all the same. Processes can still be started.
    static std::optional<std::string> runWithoutNewThreads(const std::function<std::string()>& work);
    // From now on, this process and the programs it starts can start no
    // thread; false when that could not be set up. For a QProcess's child
    // before it starts its program.
    static bool refuseNewThreads();
    // The same for fork(), as the job's programs are started; threads, and
    // processes started by posix_spawn or vfork, still can be.
    static bool refuseNewProcesses();
};

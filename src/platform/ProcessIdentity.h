#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

// A process told apart from any later one that gets the same number: its
// id with the time it started, in clock ticks after boot, as /proc keeps it.
struct ProcessIdentity {
    pid_t pid = 0;
    uint64_t startTime = 0;

    static ProcessIdentity ofThisProcess();
    // Nothing when no such process runs (or /proc cannot say).
    static std::optional<ProcessIdentity> of(pid_t pid);

    // True while the process this identity names still runs.
    bool isAlive() const;

    bool operator==(const ProcessIdentity&) const = default;
};

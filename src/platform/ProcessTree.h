#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// The processes below one process, followed from it through the children
// lists its threads have in /proc, and what they have read. The whole
// process table is never scanned: the tree is all that is asked about.
// Processes come and go while it looks; one that has gone has no children
// and has read nothing, and nothing here throws.
class ProcessTree {
public:
    explicit ProcessTree(pid_t root) : m_root(root) {}

    // Every process below the root, the root left out.
    std::vector<pid_t> descendants() const;
    // "rchar" of /proc/PID/io, every byte read, summed over the root and
    // every process below it.
    uint64_t bytesRead() const;

private:
    static std::vector<pid_t> childrenOf(pid_t pid);
    static uint64_t bytesReadBy(pid_t pid);

    pid_t m_root;
};

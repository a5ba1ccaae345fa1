#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Whether a job's copies and archive fit where they must go, asked before
// the work that would fill a disk is done.
class SpaceCheck {
public:
    struct Shortage {
        std::string folder;
        uint64_t missing = 0; // bytes
    };

    // The links a work folder takes: known for the kinds of file system
    // Linux is installed on, found by making them there on any other.
    struct WorkLinks {
        dev_t device = 0;
        bool hard = true;
        bool symbolic = true;
    };
    static WorkLinks linksIn(const std::string& folder);

    // The bytes that staging must copy: the files that neither a hard link
    // (same file system as the work folder) nor a symbolic link can stand
    // for in work. Counted as staging will
    // take them: links inside folders are not followed. Stops early when
    // abandoned.
    static uint64_t bytesToCopy(const std::vector<std::string>& items, const WorkLinks& work,
                                const std::function<bool()>& abandoned);

    // What an archive of files of totalBytes in fileCount entries can take
    // at most: stored as it is, with its headers.
    static uint64_t archiveBound(uint64_t totalBytes, int entryCount);

    // What an archive of entries (their names as the archive holds them,
    // a folder's with its "/") takes at the very least, however well its
    // data compresses: its headers. Encryption adds a header to each file.
    static uint64_t archiveFloor(const std::vector<std::string>& entries, bool encrypted);

    // Nothing when bytes more fit into folder's file system.
    static std::optional<Shortage> shortageFor(const std::string& folder, uint64_t bytes);
    // True when bytes more do not fit into folder's file system, or it has
    // no room for one more file whatever its free bytes (every inode taken,
    // on a tmpfs or a small ext4): what a program that failed to write
    // there met.
    static bool isFull(const std::string& folder, uint64_t bytes);

    // The device folder lies on; 0 when it cannot be told.
    static dev_t deviceOf(const std::string& folder);
};

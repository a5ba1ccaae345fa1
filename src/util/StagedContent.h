#pragma once

#include "DosTime.h"
#include "JobReport.h"

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

// How a failure for an item that went or changed while the job ran begins:
// what follows is the item's path and, in parentheses, what happened to it.
inline constexpr const char* kChangedWhileRunning = "changed while the job ran: ";

// A file staged as a link to the user's file, and the file as it was when
// it was staged: the writer reads it later, and if it is then another file,
// or changed, or gone, the archive does not hold what the user gave.
struct StagedFile {
    std::string path; // below the output folder, as the writer opens it ("archive/a/b.txt")
    size_t entry = 0; // its entry's name, by its place in expectedEntries
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    mode_t mode = 0;
    struct timespec modified {};
    bool symbolic = false; // a symbolic link to the user's path, not a hard link
};

// What the content folder holds once it is built, for the steps after it.
struct StagedContent {
    JobReport report;
    // The entries the writer must put into the archive, as raw code page
    // 932 names ("archive/a/b.txt", "archive/empty/"), in no set order.
    std::vector<std::string> expectedEntries;
    // Entries whose headers are to say what the writer cannot, by entry
    // name as in expectedEntries: files whose time a ZIP header cannot
    // hold, with the nearest it can, and folder entries, which the writer
    // dates with the time of writing and opens to everyone.
    struct EntryStamp {
        std::string entry;
        DosTime time;
        // The central header's external attributes (the Unix mode above,
        // the DOS attributes below); none to keep the writer's.
        std::optional<uint32_t> attributes;
    };
    std::vector<EntryStamp> entryStamps;
    // A folder entry that waits for the whole tree: with a "[" in its path
    // the writer's glob() reads a pattern, which may find the names of
    // another folder and miss the folder's own ("v[1]" looks into "v1").
    struct PendingFolderEntry {
        std::string pattern; // what the writer asks glob(), as an absolute path
        EntryStamp stamp;    // the entry, if glob() finds nothing
        std::optional<WarnedItem> warning; // for a time its headers cannot hold
        std::string source; // the user's folder
        bool empty = false; // nothing visible was placed in it
    };
    std::vector<PendingFolderEntry> pendingFolderEntries;
    // The files staged as links, hard or symbolic, in no set order; copies
    // are the job's own and cannot change.
    std::vector<StagedFile> linkedFiles;
    // The bytes of all staged files, what the writer has to read.
    uint64_t totalBytes = 0;
    // Set when the work folder itself failed while the tree was built (no
    // space, an input/output error): the staged tree is incomplete and the
    // job cannot go on. The system's error number, and its description.
    int workFolderError = 0;
    std::string workFolderFailure;
    // Set when an item staged went or changed before all of it was: a
    // folder that could not be listed once it was made. What it was.
    std::string changedItem;
};

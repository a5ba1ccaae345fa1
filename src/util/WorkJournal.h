#pragma once

#include "Failure.h"
#include "ProcessIdentity.h"
#include "UniqueFd.h"
#include "WorkFolders.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// What one job made outside the user's sight: its staging folder in the
// work root and the hidden part file in the destination folder (and, where
// the file system needs one, the empty file that holds the archive's name
// until the part file is renamed over it). Each is
// written down before it is made and named with its inode once it is
// there, in a small record in the work root's journal folder, so that
// whatever a job leaves behind when it is killed is found and removed by
// the next start or job, and only ever what the job itself made.
class WorkJournal {
public:
    enum class Kind {
        Staging,     // the staging folder in the work root
        Part,        // the hidden part file beside the user's items
        Placeholder, // an empty file at the archive's name, held for the part file
    };

    // A record for folders.job(), owned by this process.
    explicit WorkJournal(WorkFolders folders);

    // Writes down that path is about to be made.
    Failure intend(Kind kind, const std::string& path, int* systemError = nullptr);
    // Writes down who the item now at path is; a failure to write is
    // reported, not returned: the item is found by its name all the same.
    void made(const std::string& path);
    // Strikes path out: it is not the job's to remove (any more).
    void forget(const std::string& path);

    // The job has ended: removes what it made that is still there, then the
    // record. What cannot be removed is reported once and left to a later
    // attempt; it never holds up another job.
    void removeAll();

    // Removes what jobs whose process has gone left behind in the work root
    // and beside the user's items.
    static void removeLeftovers(const WorkFolders& folders);

    // A part file is named ".archive-" and kPartNameDrawn characters drawn
    // from a-z and 0-9, then ".zip.part".
    static constexpr const char* kPartPrefix = ".archive-";
    static constexpr const char* kPartSuffix = ".zip.part";
    static constexpr int kPartNameDrawn = 12;
    // True for a name of exactly that shape: a part file of a job, running
    // or killed, never the user's file.
    static bool isPartName(const std::string& name);

private:
    struct Entry {
        Kind kind = Kind::Staging;
        std::string path;
        dev_t device = 0;
        ino_t inode = 0; // 0 until it is made
    };
    struct Record {
        ProcessIdentity owner;
        bool ended = false;
        bool reported = false;
        std::vector<Entry> entries;
    };

    WorkJournal(WorkFolders folders, Record record);

    static bool isOutOfReach(const Entry& entry);

    std::string recordPath() const;
    // The lock its owner holds for as long as it runs: its pid tells
    // nothing to a process in another pid namespace, or on another machine
    // that shares the home folder.
    std::string lockPath() const;
    static bool isLockHeld(const std::string& lockFile);
    // systemError, when given, takes the errno of the call that failed.
    Failure write(int* systemError = nullptr);
    void clear();
    static std::optional<Record> read(const std::string& file);
    static bool isOurs(const Entry& entry, const WorkFolders& folders);
    static void removeUnfinished(const std::string& file, const ProcessIdentity& self);
    static void removeUnheldLock(const std::string& file);

    WorkFolders m_folders;
    Record m_record;
    UniqueFd m_lock; // held from the first record written on
};

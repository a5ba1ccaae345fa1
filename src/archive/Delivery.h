#pragma once

#include "Failure.h"
#include "JobOutcome.h"

#include <cstdint>
#include <functional>
#include <string>

class WorkJournal;

// Puts a finished archive into the destination folder without ever
// replacing a file there. The archive first arrives under a hidden name of
// its own (the part file), is checked there, and then takes the first free
// archive name in one step that fails rather than replaces.
class Delivery {
public:
    // The calls that give the part file its archive name. A file system may
    // refuse renameat2's RENAME_NOREPLACE and hard links alike (an exFAT
    // stick through FUSE does); tests give calls that answer as one would.
    struct Calls {
        using Move = std::function<int(const std::string& source, const std::string& target)>;
        Move renameNoReplace;
        Move link;
        // Makes path as a new empty file and returns its descriptor; -1 and
        // errno (EEXIST when something is there) otherwise.
        std::function<int(const std::string& path)> createNew;
        Move rename; // replaces the target

        static Calls ofSystem();
    };

    // The first free name of "archive.zip", "archive1.zip", ... in destDir;
    // baseName takes the place of "archive".
    static std::string freeArchiveName(const std::string& destDir, const std::string& baseName = "archive");

    // A hidden name, new in destDir, for the archive on its way in.
    static std::string partName(const std::string& destDir);

    // Moves the part file to the first free archive name in destDir and
    // sets finalPath; a name taken meanwhile is passed over. Where the file
    // system can refuse to replace neither by itself nor through a hard
    // link, the name is first held by an empty file of the job's own,
    // written down in journal, and the part file is renamed over it.
    static Failure placeUnderFreeName(const std::string& partPath, const std::string& destDir, std::string& finalPath,
                                      const std::string& baseName, WorkJournal& journal,
                                      const Calls& calls = Calls::ofSystem());

    // Gives the part file the mode a new file of the user's gets (0666
    // less the umask). A copy from a work folder on exFAT or FAT, which
    // shows every file as 0777, would otherwise arrive executable and
    // writable by all.
    static void giveUsualMode(const std::string& partPath);

    // Told how many bytes of the part file are on its disk so far; true
    // stops the writing out.
    using WriteOutStep = std::function<bool(uint64_t writtenOut)>;
    // A part file copied onto another disk than the work folder's (a
    // stick, a share) has its data written out to that disk: "delivered"
    // must hold for a user who pulls the stick out on reading it. On the
    // work folder's own disk it is the very file the writer made, and
    // nothing is asked of the disk. It goes a few megabytes at a time, each
    // waited for, with step told before each how much is out: a copy that
    // went into memory in a moment (mv's of an encrypted archive) can take
    // a slow stick a minute, which is then shown and can be stopped.
    static Failure writeOut(const std::string& partPath, const std::string& workFolder, const WriteOutStep& step = {});
    // True when path is on another disk than workFolder, where writeOut
    // has the disk to wait for.
    static bool isOnAnotherDisk(const std::string& path, const std::string& workFolder);
    // What writeOut answers when step stopped it.
    static constexpr const char* kWriteOutStopped = "the writing out was stopped: ";
    // The same for the destination folder once the archive has its name
    // there: the new name is written out too, as far as the disk will.
    static void writeOutName(const std::string& destDir, const std::string& workFolder);

    // False where the destination's file system holds no file of size
    // bytes: FAT, as Windows formats most sticks, holds 4 GB less a byte.
    static bool holdsFileOf(const std::string& destDir, uint64_t bytes);
    // The same for a file system known by its type (statfs's f_type).
    static bool fileSystemHolds(long fileSystemType, uint64_t bytes);

    // Why the destination refused an archive of size bytes.
    static FailureCause destinationCause(const std::string& destDir, uint64_t bytes);
};

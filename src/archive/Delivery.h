#pragma once

#include "Failure.h"
#include "JobOutcome.h"

#include <cstdint>
#include <string>

// Puts a finished archive into the destination folder without ever
// replacing a file there. The archive first arrives under a hidden name of
// its own (the part file), is checked there, and then takes the first free
// archive name in one step that fails rather than replaces.
class Delivery {
public:
    // The first free name of "archive.zip", "archive1.zip", ... in destDir;
    // baseName takes the place of "archive".
    static std::string freeArchiveName(const std::string& destDir, const std::string& baseName = "archive");

    // A hidden name, new in destDir, for the archive on its way in.
    static std::string partName(const std::string& destDir);

    // Moves the part file to the first free archive name in destDir and
    // sets finalPath; a name taken meanwhile is passed over.
    static Failure placeUnderFreeName(const std::string& partPath, const std::string& destDir, std::string& finalPath,
                                      const std::string& baseName = "archive");

    // Why the destination refused an archive of size bytes.
    static FailureCause destinationCause(const std::string& destDir, uint64_t bytes);
};

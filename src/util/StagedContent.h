#pragma once

#include "DosTime.h"
#include "JobReport.h"

#include <cstdint>
#include <string>
#include <vector>

// What the content folder holds once it is built, for the steps after it.
struct StagedContent {
    JobReport report;
    // The entries the writer must put into the archive, as raw code page
    // 932 names ("archive/a/b.txt", "archive/empty/"), in no set order.
    std::vector<std::string> expectedEntries;
    // Files whose time a ZIP header cannot hold, by entry name as in
    // expectedEntries, with the time their headers are to hold instead.
    struct ClampedTime {
        std::string entry;
        DosTime time;
    };
    std::vector<ClampedTime> clampedTimes;
    // The bytes of all staged files, what the writer has to read.
    uint64_t totalBytes = 0;
    // Set when the work folder itself failed while the tree was built (no
    // space, an input/output error): the staged tree is incomplete and the
    // job cannot go on. The system's error number, and its description.
    int workFolderError = 0;
    std::string workFolderFailure;
};

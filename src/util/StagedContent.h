#pragma once

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
    // The bytes of all staged files, what the writer has to read.
    uint64_t totalBytes = 0;
};

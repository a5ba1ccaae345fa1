#pragma once

#include "Failure.h"
#include "StagedContent.h"

#include <string>
#include <vector>

// Edits the headers of the entries of a finished ZIP file in place.
class ZipEntryFlags {
public:
    // Clears general-purpose bit 11 ("name is UTF-8") in every local and
    // central header. The archive's names are code page 932; some of them
    // happen to be valid UTF-8 (half-width katakana pairs), and with the bit
    // set Windows would read them as UTF-8. In the same pass, the entries
    // named in clampedTimes get their time in both headers: the writer
    // wraps a year the header cannot hold. Nothing else changes; neither
    // field is covered by any checksum.
    static Failure clearUtf8Names(const std::string& archivePath,
                                  const std::vector<StagedContent::ClampedTime>& clampedTimes = {});
};

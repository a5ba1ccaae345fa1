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
    // named in entryStamps get their time in both headers (the writer wraps
    // a year the header cannot hold, and dates a folder entry with the time
    // of writing) and, where a stamp has them, their attributes in the
    // central header (the writer gives a folder entry drwxrwxrwx and no DOS
    // folder attribute). Nothing else changes; no field is covered by any
    // checksum.
    static Failure clearUtf8Names(const std::string& archivePath,
                                  const std::vector<StagedContent::EntryStamp>& entryStamps = {});
};

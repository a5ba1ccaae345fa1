#pragma once

#include "Failure.h"

#include <string>

// Edits the flags of the entries of a finished ZIP file in place.
class ZipEntryFlags {
public:
    // Clears general-purpose bit 11 ("name is UTF-8") in every local and
    // central header. The archive's names are code page 932; some of them
    // happen to be valid UTF-8 (half-width katakana pairs), and with the bit
    // set Windows would read them as UTF-8. Nothing else changes; the bit is
    // not covered by any checksum.
    static Failure clearUtf8Names(const std::string& archivePath);
};

#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the central directory of a ZIP file so tests can check archives on
// their raw bytes: entry names exactly as stored, flags, checksums and where
// the flag fields sit. It finds the directory through a ZIP64 end record
// too, but reads only 32-bit offsets: the tests' archives stay below 4 GB.
// Written on its own from the format's layout, sharing nothing with the
// application's ZIP code, so a misreading there cannot hide behind the same
// misreading here.
class ZipReader {
public:
    struct Entry {
        std::string name; // raw bytes of the central header's name
        uint16_t flags = 0;
        uint16_t localFlags = 0;
        uint32_t crc32 = 0;
        uint64_t size = 0; // uncompressed
        uint64_t centralFlagsAt = 0; // byte offsets of the flag fields
        uint64_t localFlagsAt = 0;
        uint16_t time = 0, date = 0; // the central header's, as stored (DOS)
        uint16_t localTime = 0, localDate = 0;
        uint16_t madeBy = 0; // its high byte is the system the attributes are for (3: Unix)
        uint32_t attributes = 0; // external: the Unix mode above, the DOS attributes below

        // The central header's date and time as "YYYY-MM-DD hh:mm:ss".
        std::string modified() const;
    };

    explicit ZipReader(const std::string& path);
    // The entries' names, in the directory's order.
    const std::vector<std::string>& names() const { return m_names; }

    std::string error; // empty when the archive could be read
    bool zip64 = false;
    std::vector<Entry> entries;

private:
    std::string read(const std::string& data);

    std::vector<std::string> m_names;
};

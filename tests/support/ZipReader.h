#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the central directory of a ZIP file (ZIP64 included) so tests can
// check archives on their raw bytes: entry names exactly as stored, flags,
// methods, sizes and where each local header sits. Written on its own from
// the format's layout, sharing nothing with the application's ZIP code, so
// a misreading there cannot hide behind the same misreading here.
class ZipReader {
public:
    struct Entry {
        std::string name; // raw bytes of the central header's name
        uint16_t flags = 0;
        uint16_t localFlags = 0;
        uint16_t method = 0;
        uint32_t crc32 = 0;
        uint64_t compressedSize = 0;
        uint64_t size = 0;
        uint64_t localHeaderOffset = 0;
        // Byte offsets of the flag fields in the file, for tests that edit them.
        uint64_t centralFlagsAt = 0;
        uint64_t localFlagsAt = 0;
        bool localNameMatches = false;

        bool encrypted() const { return flags & 0x0001; }
        bool utf8Name() const { return flags & 0x0800; }
        bool isFolder() const { return !name.empty() && name.back() == '/'; }
    };

    // Reads the archive at path; error() is empty when it could be read.
    explicit ZipReader(const std::string& path);

    const std::string& error() const { return m_error; }
    bool isZip64() const { return m_zip64; }
    const std::vector<Entry>& entries() const { return m_entries; }
    std::vector<std::string> names() const;
    // The entry with exactly this raw name, or nullptr.
    const Entry* find(const std::string& name) const;

    // The CRC-32 the ZIP format uses, for comparing entries with files.
    static uint32_t crc32(const std::string& data);

private:
    bool read();
    bool readEnd(uint64_t& directoryAt, uint64_t& directorySize, uint64_t& count);
    bool readEntries(uint64_t directoryAt, uint64_t directorySize, uint64_t count);
    bool checkLocalHeader(Entry& entry);
    bool fail(const std::string& why);

    std::string m_path;
    std::string m_data;
    std::string m_error;
    bool m_zip64 = false;
    std::vector<Entry> m_entries;
};

#pragma once

#include "Failure.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The central directory of a ZIP file, read with the ZIP64 fields where the
// 32-bit ones say so.
class ZipDirectory {
public:
    struct Entry {
        std::string name; // raw bytes, as stored
        uint16_t flags = 0;
        uint16_t method = 0;
        uint32_t crc = 0;
        uint64_t compressedSize = 0;
        uint64_t size = 0;
        uint64_t localHeaderAt = 0;
        uint64_t centralHeaderAt = 0;
    };

    // The start of a failure to read the archive's directory.
    static constexpr const char* kUnreadable = "not a readable ZIP file (";
    static constexpr uint32_t kLocalHeader = 0x04034b50;
    static constexpr uint32_t kCentralHeader = 0x02014b50;
    static constexpr size_t kLocalHeaderSize = 30;
    static constexpr uint16_t kEncryptedFlag = 1u << 0;
    static constexpr uint16_t kUtf8NameFlag = 1u << 11;

    // One central header as the directory holds it, for a pass that keeps
    // only what it needs.
    struct Header {
        Entry& entry; // every field but the name
        std::string_view name; // the directory's own bytes, for the call only
        uint64_t count; // the entries the end record gives, as far as the directory can hold them
    };

    // Reads the directory of the open file fd; path only names it in the
    // failure.
    static Failure read(int fd, const std::string& path, std::vector<Entry>& entries);
    // Calls take with each central header of fd in the directory's order,
    // until the first failure.
    static Failure forEach(int fd, const std::string& path, const std::function<void(const Header&)>& take);

    static uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
    static uint32_t le32(const uint8_t* p) { return le16(p) | static_cast<uint32_t>(le16(p + 2)) << 16; }
    static uint64_t le64(const uint8_t* p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }
};

#pragma once

#include <QString>

#include <compare>
#include <cstdint>
#include <map>
#include <string>

// What an archive holds and what a folder holds, compared by content: each
// file as the CRC-32 and size of its bytes.
struct FileDigest {
    uint32_t crc32 = 0;
    uint64_t size = 0;
    auto operator<=>(const FileDigest&) const = default;
};

class ArchiveContent {
public:
    // How many file entries of archive have each digest.
    static std::map<FileDigest, int> digestCounts(const std::string& archive);
    static FileDigest ofFile(const std::string& path);
    // An entry name as Windows shows it, read with glibc's own code page
    // 932 converter, not the application's.
    static QString shownOnWindows(const std::string& cp932);
};

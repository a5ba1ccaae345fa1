#include "ZipReader.h"

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

// A little-endian field; 0 where it would run past the end of the data.
uint64_t field(const std::string& data, uint64_t at, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0 && at + static_cast<uint64_t>(bytes) <= data.size(); --i)
        value = value << 8 | static_cast<unsigned char>(data[at + static_cast<uint64_t>(i)]);
    return value;
}

} // namespace

ZipReader::ZipReader(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    error = in ? read(std::string(std::istreambuf_iterator<char>(in), {})) : "cannot open " + path;
}

std::string ZipReader::read(const std::string& data)
{
    // The end record is the last one whose comment reaches exactly to the
    // end of the file.
    uint64_t end = data.size() >= 22 ? data.size() - 22 : UINT64_MAX;
    while (end != UINT64_MAX && !(field(data, end, 4) == 0x06054b50 && end + 22 + field(data, end + 20, 2) == data.size()))
        --end;
    if (end == UINT64_MAX)
        return "no end of central directory record";
    uint64_t count = field(data, end + 10, 2);
    uint64_t at = field(data, end + 16, 4);
    if (end >= 20 && field(data, end - 20, 4) == 0x07064b50) {
        const uint64_t zip64End = field(data, end - 12, 8);
        if (field(data, zip64End, 4) != 0x06064b50)
            return "ZIP64 locator points at no ZIP64 end record";
        zip64 = true;
        count = field(data, zip64End + 32, 8);
        at = field(data, zip64End + 48, 8);
    }
    for (uint64_t i = 0; i < count; ++i) {
        if (field(data, at, 4) != 0x02014b50 || at + 46 > data.size())
            return "bad central header " + std::to_string(i);
        Entry entry;
        entry.name = data.substr(at + 46, field(data, at + 28, 2));
        entry.madeBy = static_cast<uint16_t>(field(data, at + 4, 2));
        entry.flags = static_cast<uint16_t>(field(data, at + 8, 2));
        entry.attributes = static_cast<uint32_t>(field(data, at + 38, 4));
        entry.crc32 = static_cast<uint32_t>(field(data, at + 16, 4));
        entry.size = field(data, at + 24, 4);
        entry.centralFlagsAt = at + 8;
        const uint64_t local = field(data, at + 42, 4);
        if (field(data, local, 4) != 0x04034b50)
            return "no local header for " + entry.name;
        entry.localFlagsAt = local + 6;
        entry.localFlags = static_cast<uint16_t>(field(data, local + 6, 2));
        entry.time = static_cast<uint16_t>(field(data, at + 12, 2));
        entry.date = static_cast<uint16_t>(field(data, at + 14, 2));
        entry.localTime = static_cast<uint16_t>(field(data, local + 10, 2));
        entry.localDate = static_cast<uint16_t>(field(data, local + 12, 2));
        entries.push_back(entry);
        m_names.push_back(entry.name);
        at += 46 + entry.name.size() + field(data, at + 30, 2) + field(data, at + 32, 2);
    }
    return {};
}

std::string ZipReader::Entry::modified() const
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                  time >> 11, (time >> 5) & 63, (time & 31) * 2);
    return text;
}

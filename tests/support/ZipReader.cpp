#include "ZipReader.h"

#include <array>
#include <fstream>
#include <iterator>

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kLocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr uint16_t kZip64ExtraId = 0x0001;

// Little-endian fields read byte by byte from the file's text.
uint64_t field(const std::string& data, uint64_t at, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(data[at + static_cast<uint64_t>(i)]);
    return value;
}

} // namespace

ZipReader::ZipReader(const std::string& path)
    : m_path(path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fail("cannot open");
        return;
    }
    m_data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    read();
    // The entries keep what the tests need; the archive's bytes can be large.
    m_data.clear();
    m_data.shrink_to_fit();
}

std::vector<std::string> ZipReader::names() const
{
    std::vector<std::string> result;
    for (const Entry& entry : m_entries)
        result.push_back(entry.name);
    return result;
}

const ZipReader::Entry* ZipReader::find(const std::string& name) const
{
    for (const Entry& entry : m_entries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

uint32_t ZipReader::crc32(const std::string& data)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t {};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : data)
        crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

bool ZipReader::fail(const std::string& why)
{
    m_error = why + ": " + m_path;
    return false;
}

bool ZipReader::read()
{
    uint64_t directoryAt = 0;
    uint64_t directorySize = 0;
    uint64_t count = 0;
    return readEnd(directoryAt, directorySize, count) && readEntries(directoryAt, directorySize, count);
}

bool ZipReader::readEnd(uint64_t& directoryAt, uint64_t& directorySize, uint64_t& count)
{
    if (m_data.size() < kEndSize)
        return fail("too short for a ZIP file");
    // The end record is the last one whose comment length reaches exactly
    // to the end of the file.
    uint64_t end = m_data.size() - kEndSize + 1;
    bool found = false;
    while (end-- > 0) {
        if (field(m_data, end, 4) == kEndSignature && end + kEndSize + field(m_data, end + 20, 2) == m_data.size()) {
            found = true;
            break;
        }
    }
    if (!found)
        return fail("no end of central directory record");
    count = field(m_data, end + 10, 2);
    directorySize = field(m_data, end + 12, 4);
    directoryAt = field(m_data, end + 16, 4);
    if (end < kLocatorSize || field(m_data, end - kLocatorSize, 4) != kZip64LocatorSignature)
        return true;
    const uint64_t zip64End = field(m_data, end - kLocatorSize + 8, 8);
    if (zip64End + kZip64EndSize > m_data.size() || field(m_data, zip64End, 4) != kZip64EndSignature)
        return fail("ZIP64 locator points at no ZIP64 end record");
    m_zip64 = true;
    count = field(m_data, zip64End + 32, 8);
    directorySize = field(m_data, zip64End + 40, 8);
    directoryAt = field(m_data, zip64End + 48, 8);
    return true;
}

bool ZipReader::readEntries(uint64_t directoryAt, uint64_t directorySize, uint64_t count)
{
    if (directoryAt + directorySize > m_data.size())
        return fail("central directory outside the file");
    uint64_t at = directoryAt;
    for (uint64_t i = 0; i < count; ++i) {
        if (at + kCentralSize > directoryAt + directorySize || field(m_data, at, 4) != kCentralSignature)
            return fail("bad central header " + std::to_string(i));
        Entry entry;
        entry.centralFlagsAt = at + 8;
        entry.flags = static_cast<uint16_t>(field(m_data, at + 8, 2));
        entry.method = static_cast<uint16_t>(field(m_data, at + 10, 2));
        entry.crc32 = static_cast<uint32_t>(field(m_data, at + 16, 4));
        entry.compressedSize = field(m_data, at + 20, 4);
        entry.size = field(m_data, at + 24, 4);
        entry.localHeaderOffset = field(m_data, at + 42, 4);
        const uint64_t nameSize = field(m_data, at + 28, 2);
        const uint64_t extraSize = field(m_data, at + 30, 2);
        const uint64_t commentSize = field(m_data, at + 32, 2);
        if (at + kCentralSize + nameSize + extraSize + commentSize > directoryAt + directorySize)
            return fail("central header " + std::to_string(i) + " runs past the directory");
        entry.name = m_data.substr(at + kCentralSize, nameSize);

        // ZIP64 extra: the 64-bit values follow in this order, each present
        // only when its 32-bit field holds all ones.
        const uint64_t extraEnd = at + kCentralSize + nameSize + extraSize;
        for (uint64_t x = at + kCentralSize + nameSize; x + 4 <= extraEnd;) {
            const uint64_t id = field(m_data, x, 2);
            const uint64_t size = field(m_data, x + 2, 2);
            if (id == kZip64ExtraId) {
                uint64_t value = x + 4;
                for (uint64_t* target : {&entry.size, &entry.compressedSize, &entry.localHeaderOffset}) {
                    if (*target == 0xFFFFFFFFu && value + 8 <= x + 4 + size) {
                        *target = field(m_data, value, 8);
                        value += 8;
                    }
                }
            }
            x += 4 + size;
        }
        if (!checkLocalHeader(entry))
            return false;
        m_entries.push_back(entry);
        at += kCentralSize + nameSize + extraSize + commentSize;
    }
    return true;
}

bool ZipReader::checkLocalHeader(Entry& entry)
{
    const uint64_t at = entry.localHeaderOffset;
    if (at + kLocalSize > m_data.size() || field(m_data, at, 4) != kLocalSignature)
        return fail("no local header for " + entry.name);
    entry.localFlagsAt = at + 6;
    entry.localFlags = static_cast<uint16_t>(field(m_data, at + 6, 2));
    const uint64_t nameSize = field(m_data, at + 26, 2);
    entry.localNameMatches = at + kLocalSize + nameSize <= m_data.size()
        && m_data.compare(at + kLocalSize, nameSize, entry.name) == 0;
    return true;
}

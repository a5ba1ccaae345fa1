#include "ZipDirectory.h"

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t kEndOfCentralDirectory = 0x06054b50;
constexpr uint32_t kZip64End = 0x06064b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr uint16_t kZip64Field = 0x0001;
constexpr uint32_t kUse64 = 0xFFFFFFFF;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLargestComment = 0xFFFF;

using Entry = ZipDirectory::Entry;

class DirectoryFile {
public:
    DirectoryFile(int fd, const std::string& path) : m_fd(fd), m_path(path)
    {
        struct stat info {};
        m_size = ::fstat(fd, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    }
    uint64_t size() const { return m_size; }
    bool read(uint64_t at, uint8_t* data, size_t size) const
    {
        return at <= m_size && size <= m_size - at
            && ::pread(m_fd, data, size, static_cast<off_t>(at)) == static_cast<ssize_t>(size);
    }
    Failure broken(const std::string& what) const { return ZipDirectory::kUnreadable + what + "): " + m_path; }

private:
    int m_fd;
    std::string m_path;
    uint64_t m_size = 0;
};

struct Location {
    uint64_t offset = 0;
    uint64_t size = 0;
    uint64_t entries = 0;
};

bool findEndRecord(const DirectoryFile& file, uint64_t& at)
{
    const uint64_t size = file.size();
    if (size < kEndRecordSize)
        return false;
    const uint64_t tail = std::min<uint64_t>(size, kEndRecordSize + kLargestComment);
    std::vector<uint8_t> buffer(tail);
    if (!file.read(size - tail, buffer.data(), buffer.size()))
        return false;
    for (size_t i = tail - kEndRecordSize + 1; i-- > 0;) {
        if (ZipDirectory::le32(&buffer[i]) == kEndOfCentralDirectory) {
            at = size - tail + i;
            return true;
        }
    }
    return false;
}

bool locate(const DirectoryFile& file, Location& directory)
{
    uint64_t end = 0;
    uint8_t record[kEndRecordSize];
    if (!findEndRecord(file, end) || !file.read(end, record, sizeof record))
        return false;
    directory.size = ZipDirectory::le32(record + 12);
    directory.offset = ZipDirectory::le32(record + 16);
    directory.entries = ZipDirectory::le16(record + 10);
    if (directory.offset != kUse64 && directory.size != kUse64 && directory.entries != 0xFFFF)
        return true;
    // All ones may be the true value: php's library writes 65,535 entries
    // with no ZIP64 record. Without a locator the plain record holds.
    uint8_t locator[20];
    if (end < sizeof locator || !file.read(end - sizeof locator, locator, sizeof locator)
        || ZipDirectory::le32(locator) != kZip64Locator)
        return true;
    uint8_t zip64[56];
    if (!file.read(ZipDirectory::le64(locator + 8), zip64, sizeof zip64) || ZipDirectory::le32(zip64) != kZip64End)
        return false;
    directory.size = ZipDirectory::le64(zip64 + 40);
    directory.offset = ZipDirectory::le64(zip64 + 48);
    directory.entries = ZipDirectory::le64(zip64 + 32);
    return true;
}

// The ZIP64 extra field holds, in this order, those of the sizes and the
// offset whose 32-bit fields are all ones.
bool readZip64Fields(const uint8_t* extra, size_t extraSize, Entry& entry)
{
    uint64_t* const fields[] = {&entry.size, &entry.compressedSize, &entry.localHeaderAt};
    for (size_t at = 0; at + 4 <= extraSize;) {
        const uint16_t id = ZipDirectory::le16(extra + at);
        const size_t size = ZipDirectory::le16(extra + at + 2);
        if (id == kZip64Field) {
            size_t field = at + 4;
            for (uint64_t* value : fields) {
                if (*value != kUse64)
                    continue;
                if (field + 8 > at + 4 + size || field + 8 > extraSize)
                    return false;
                *value = ZipDirectory::le64(extra + field);
                field += 8;
            }
            return true;
        }
        at += 4 + size;
    }
    return std::none_of(std::begin(fields), std::end(fields), [](uint64_t* value) { return *value == kUse64; });
}

} // namespace

Failure ZipDirectory::read(int fd, const std::string& path, std::vector<Entry>& entries)
{
    entries.clear();
    return forEach(fd, path, [&entries](const Header& header) {
        if (entries.empty())
            entries.reserve(header.count);
        header.entry.name = header.name;
        entries.push_back(std::move(header.entry));
    });
}

Failure ZipDirectory::forEach(int fd, const std::string& path, const std::function<void(const Header&)>& take)
{
    const DirectoryFile file(fd, path);
    Location directory;
    if (!locate(file, directory) || directory.offset > file.size() || directory.size > file.size() - directory.offset)
        return file.broken("no end of central directory");
    // Read over at once, so left uninitialised.
    const std::unique_ptr<uint8_t[]> central(new uint8_t[directory.size]);
    if (!file.read(directory.offset, central.get(), directory.size))
        return file.broken("central directory cut short");
    const uint64_t count = std::min<uint64_t>(directory.entries, directory.size / kCentralHeaderSize);
    for (size_t at = 0; at + kCentralHeaderSize <= directory.size;) {
        const uint8_t* header = &central[at];
        if (le32(header) != ZipDirectory::kCentralHeader)
            return file.broken("bad central header");
        const size_t nameSize = le16(header + 28);
        const size_t extraSize = le16(header + 30);
        const size_t commentSize = le16(header + 32);
        if (at + kCentralHeaderSize + nameSize + extraSize + commentSize > directory.size)
            return file.broken("central header cut short");
        Entry entry;
        entry.flags = le16(header + 8);
        entry.method = le16(header + 10);
        entry.crc = le32(header + 16);
        entry.compressedSize = le32(header + 20);
        entry.size = le32(header + 24);
        entry.localHeaderAt = le32(header + 42);
        entry.centralHeaderAt = directory.offset + at;
        if (!readZip64Fields(header + kCentralHeaderSize + nameSize, extraSize, entry))
            return file.broken("ZIP64 field cut short");
        take({entry, std::string_view(reinterpret_cast<const char*>(header + kCentralHeaderSize), nameSize), count});
        at += kCentralHeaderSize + nameSize + extraSize + commentSize;
    }
    return std::nullopt;
}

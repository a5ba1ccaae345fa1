#include "ZipEntryFlags.h"

#include "UniqueFd.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kCentralHeader = 0x02014b50;
constexpr uint32_t kEndOfCentralDirectory = 0x06054b50;
constexpr uint32_t kZip64End = 0x06064b50;
constexpr uint32_t kZip64Locator = 0x07064b50;
constexpr uint16_t kUtf8NameFlag = 1u << 11;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLargestComment = 0xFFFF;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return le16(p) | static_cast<uint32_t>(le16(p + 2)) << 16; }
uint64_t le64(const uint8_t* p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }

struct CentralDirectory {
    uint64_t offset = 0;
    uint64_t size = 0;
};

class ArchiveFile {
public:
    ArchiveFile(const std::string& path, int mode) : m_path(path), m_fd(::open(path.c_str(), mode | O_CLOEXEC)) {}

    Failure openError() const
    {
        return !m_fd.isOpen() ? describeErrno(errno, m_path) : Failure{};
    }
    bool read(uint64_t at, uint8_t* data, size_t size) const
    {
        return ::pread(m_fd.get(), data, size, static_cast<off_t>(at)) == static_cast<ssize_t>(size);
    }
    bool write(uint64_t at, const uint8_t* data, size_t size) const
    {
        return ::pwrite(m_fd.get(), data, size, static_cast<off_t>(at)) == static_cast<ssize_t>(size);
    }
    uint64_t size() const
    {
        struct stat info {};
        return ::fstat(m_fd.get(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    }
    Failure broken(const std::string& what) const { return "not a readable ZIP file (" + what + "): " + m_path; }

private:
    std::string m_path;
    UniqueFd m_fd;
};

bool findEndRecord(const ArchiveFile& file, uint64_t& at)
{
    const uint64_t size = file.size();
    if (size < kEndRecordSize)
        return false;
    const uint64_t tail = std::min<uint64_t>(size, kEndRecordSize + kLargestComment);
    std::vector<uint8_t> buffer(tail);
    if (!file.read(size - tail, buffer.data(), buffer.size()))
        return false;
    for (size_t i = tail - kEndRecordSize + 1; i-- > 0;) {
        if (le32(&buffer[i]) == kEndOfCentralDirectory) {
            at = size - tail + i;
            return true;
        }
    }
    return false;
}

bool locateCentralDirectory(const ArchiveFile& file, CentralDirectory& directory)
{
    uint64_t end = 0;
    uint8_t record[kEndRecordSize];
    if (!findEndRecord(file, end) || !file.read(end, record, sizeof record))
        return false;
    directory.size = le32(record + 12);
    directory.offset = le32(record + 16);
    if (directory.offset != 0xFFFFFFFF && directory.size != 0xFFFFFFFF && le16(record + 10) != 0xFFFF)
        return true;
    uint8_t locator[20];
    if (end < sizeof locator || !file.read(end - sizeof locator, locator, sizeof locator)
        || le32(locator) != kZip64Locator)
        return false;
    uint8_t zip64[56];
    if (!file.read(le64(locator + 8), zip64, sizeof zip64) || le32(zip64) != kZip64End)
        return false;
    directory.size = le64(zip64 + 40);
    directory.offset = le64(zip64 + 48);
    return true;
}

// The local header's offset, from the zip64 extra field when the 32-bit
// field says it is there.
uint64_t localHeaderOffset(const uint8_t* header, const uint8_t* extra, size_t extraSize)
{
    uint64_t offset = le32(header + 42);
    if (offset != 0xFFFFFFFF)
        return offset;
    for (size_t at = 0; at + 4 <= extraSize;) {
        const uint16_t id = le16(extra + at);
        const uint16_t size = le16(extra + at + 2);
        if (id == 0x0001) {
            size_t field = at + 4;
            if (le32(header + 24) == 0xFFFFFFFF)
                field += 8;
            if (le32(header + 20) == 0xFFFFFFFF)
                field += 8;
            if (field + 8 <= at + 4 + size && field + 8 <= extraSize)
                return le64(extra + field);
        }
        at += 4 + size;
    }
    return offset;
}

} // namespace

Failure ZipEntryFlags::clearUtf8Names(const std::string& archivePath)
{
    return visitUtf8Names(archivePath, true);
}

Failure ZipEntryFlags::checkNoUtf8Names(const std::string& archivePath)
{
    return visitUtf8Names(archivePath, false);
}

Failure ZipEntryFlags::visitUtf8Names(const std::string& archivePath, bool clear)
{
    ArchiveFile file(archivePath, clear ? O_RDWR : O_RDONLY);
    if (Failure error = file.openError())
        return error;
    CentralDirectory directory;
    if (!locateCentralDirectory(file, directory) || directory.offset + directory.size > file.size())
        return file.broken("no end of central directory");

    std::vector<uint8_t> central(directory.size);
    if (!file.read(directory.offset, central.data(), central.size()))
        return file.broken("central directory cut short");
    std::vector<uint64_t> localHeaders;
    bool changed = false;
    for (size_t at = 0; at + kCentralHeaderSize <= central.size();) {
        uint8_t* header = &central[at];
        if (le32(header) != kCentralHeader)
            return file.broken("bad central header");
        const size_t nameSize = le16(header + 28);
        const size_t extraSize = le16(header + 30);
        const size_t commentSize = le16(header + 32);
        if (at + kCentralHeaderSize + nameSize + extraSize + commentSize > central.size())
            return file.broken("central header cut short");
        const uint16_t flags = le16(header + 8);
        if ((flags & kUtf8NameFlag) && !clear)
            return "an entry name is marked as UTF-8: " + archivePath;
        if (flags & kUtf8NameFlag) {
            header[8] = static_cast<uint8_t>(header[8] & ~(kUtf8NameFlag & 0xFF));
            header[9] = static_cast<uint8_t>(header[9] & ~(kUtf8NameFlag >> 8));
            changed = true;
        }
        localHeaders.push_back(localHeaderOffset(header, header + kCentralHeaderSize + nameSize, extraSize));
        at += kCentralHeaderSize + nameSize + extraSize + commentSize;
    }
    for (uint64_t offset : localHeaders) {
        uint8_t local[8];
        if (!file.read(offset, local, sizeof local) || le32(local) != kLocalHeader)
            return file.broken("bad local header");
        if ((le16(local + 6) & kUtf8NameFlag) && !clear)
            return "an entry name is marked as UTF-8: " + archivePath;
        if (le16(local + 6) & kUtf8NameFlag) {
            local[7] = static_cast<uint8_t>(local[7] & ~(kUtf8NameFlag >> 8));
            if (!file.write(offset + 7, local + 7, 1))
                return describeErrno(errno, archivePath);
        }
    }
    if (changed && !file.write(directory.offset, central.data(), central.size()))
        return describeErrno(errno, archivePath);
    return std::nullopt;
}

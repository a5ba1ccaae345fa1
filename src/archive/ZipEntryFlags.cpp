#include "ZipEntryFlags.h"

#include "UniqueFd.h"
#include "ZipDirectory.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <unordered_map>
#include <unistd.h>

namespace {

// Bit 11 lives in the flags' high byte: the central header's 10th byte,
// the local header's 8th.
constexpr uint8_t kUtf8NameBit = ZipDirectory::kUtf8NameFlag >> 8;
constexpr uint64_t kCentralFlagsHigh = 9;
constexpr uint64_t kLocalFlagsHigh = 7;
// The time and then the date, two bytes each, little-endian.
constexpr uint64_t kCentralTime = 12;
constexpr uint64_t kLocalTime = 10;
constexpr size_t kLocalRead = kLocalTime + 4;
// Only the central header has them: the system the attributes are for in
// the high byte of "version made by", and the attributes, four bytes.
constexpr uint64_t kCentralMadeBySystem = 5;
constexpr uint64_t kCentralAttributes = 38;
constexpr uint8_t kUnixSystem = 3;

using Stamps = std::unordered_map<std::string_view, const StagedContent::EntryStamp*>;

// Writes the flags' high byte back without bit 11; false with errno set
// when the file refuses.
bool writeCleared(int fd, uint64_t offset, uint8_t high)
{
    const uint8_t cleared = static_cast<uint8_t>(high & ~kUtf8NameBit);
    return ::pwrite(fd, &cleared, 1, static_cast<off_t>(offset)) == 1;
}

bool writeTime(int fd, uint64_t offset, DosTime time)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(time.time), static_cast<uint8_t>(time.time >> 8),
                              static_cast<uint8_t>(time.date), static_cast<uint8_t>(time.date >> 8)};
    return ::pwrite(fd, bytes, sizeof bytes, static_cast<off_t>(offset)) == sizeof bytes;
}

// The attributes, and Unix as the system they are for: without it a reader
// takes the Unix mode for noise.
bool writeAttributes(int fd, uint64_t centralHeaderAt, uint32_t attributes)
{
    const uint8_t bytes[4] = {static_cast<uint8_t>(attributes), static_cast<uint8_t>(attributes >> 8),
                              static_cast<uint8_t>(attributes >> 16), static_cast<uint8_t>(attributes >> 24)};
    return ::pwrite(fd, &kUnixSystem, 1, static_cast<off_t>(centralHeaderAt + kCentralMadeBySystem)) == 1
        && ::pwrite(fd, bytes, sizeof bytes, static_cast<off_t>(centralHeaderAt + kCentralAttributes)) == sizeof bytes;
}

Stamps byName(const std::vector<StagedContent::EntryStamp>& entryStamps)
{
    Stamps byName;
    for (const StagedContent::EntryStamp& stamp : entryStamps)
        byName.emplace(stamp.entry, &stamp);
    return byName;
}

} // namespace

Failure ZipEntryFlags::clearUtf8Names(const std::string& archivePath,
                                      const std::vector<StagedContent::EntryStamp>& entryStamps)
{
    const UniqueFd file(::open(archivePath.c_str(), O_RDWR | O_CLOEXEC));
    if (!file.isOpen())
        return describeErrno(errno, archivePath);
    // php's archive library writes an entry's flags alike in both headers:
    // when no central header has the bit, no local one has it either, and
    // the reading of 20,000 local headers is spared. The check after
    // writing reads every local header and refuses a stray bit. Most
    // archives have no bit set: one pass that keeps nothing tells.
    bool anyMarked = false;
    if (Failure broken = ZipDirectory::forEach(file.get(), archivePath, [&anyMarked](const ZipDirectory::Header& header) {
            anyMarked = anyMarked || (header.entry.flags & ZipDirectory::kUtf8NameFlag);
        }))
        return broken;
    if (!anyMarked && entryStamps.empty())
        return std::nullopt;
    std::vector<ZipDirectory::Entry> entries;
    if (Failure broken = ZipDirectory::read(file.get(), archivePath, entries))
        return broken;
    const Stamps stamps = byName(entryStamps);
    for (const ZipDirectory::Entry& entry : entries) {
        const auto found = stamps.find(entry.name);
        const StagedContent::EntryStamp* stamp = found != stamps.end() ? found->second : nullptr;
        if (!anyMarked && !stamp)
            continue;
        uint8_t local[kLocalRead];
        if (::pread(file.get(), local, sizeof local, static_cast<off_t>(entry.localHeaderAt)) != sizeof local
            || ZipDirectory::le32(local) != ZipDirectory::kLocalHeader)
            return ZipDirectory::kUnreadable + std::string("bad local header): ") + archivePath;
        const uint8_t centralHigh = static_cast<uint8_t>(entry.flags >> 8);
        if (((centralHigh & kUtf8NameBit) && !writeCleared(file.get(), entry.centralHeaderAt + kCentralFlagsHigh, centralHigh))
            || ((local[kLocalFlagsHigh] & kUtf8NameBit)
                && !writeCleared(file.get(), entry.localHeaderAt + kLocalFlagsHigh, local[kLocalFlagsHigh])))
            return describeErrno(errno, archivePath);
        if (stamp
            && (!writeTime(file.get(), entry.centralHeaderAt + kCentralTime, stamp->time)
                || !writeTime(file.get(), entry.localHeaderAt + kLocalTime, stamp->time)
                || (stamp->attributes && !writeAttributes(file.get(), entry.centralHeaderAt, *stamp->attributes))))
            return describeErrno(errno, archivePath);
    }
    return std::nullopt;
}

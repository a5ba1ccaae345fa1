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

using Clamped = std::unordered_map<std::string_view, DosTime>;

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

Clamped byName(const std::vector<StagedContent::ClampedTime>& clampedTimes)
{
    Clamped byName;
    for (const StagedContent::ClampedTime& clamped : clampedTimes)
        byName.emplace(clamped.entry, clamped.time);
    return byName;
}

} // namespace

Failure ZipEntryFlags::clearUtf8Names(const std::string& archivePath,
                                      const std::vector<StagedContent::ClampedTime>& clampedTimes)
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
    if (!anyMarked && clampedTimes.empty())
        return std::nullopt;
    std::vector<ZipDirectory::Entry> entries;
    if (Failure broken = ZipDirectory::read(file.get(), archivePath, entries))
        return broken;
    const Clamped clamped = byName(clampedTimes);
    for (const ZipDirectory::Entry& entry : entries) {
        const auto time = clamped.find(entry.name);
        const bool retime = time != clamped.end();
        if (!anyMarked && !retime)
            continue;
        uint8_t local[kLocalRead];
        if (::pread(file.get(), local, sizeof local, static_cast<off_t>(entry.localHeaderAt)) != sizeof local
            || ZipDirectory::le32(local) != ZipDirectory::kLocalHeader)
            return "not a readable ZIP file (bad local header): " + archivePath;
        const uint8_t centralHigh = static_cast<uint8_t>(entry.flags >> 8);
        if (((centralHigh & kUtf8NameBit) && !writeCleared(file.get(), entry.centralHeaderAt + kCentralFlagsHigh, centralHigh))
            || ((local[kLocalFlagsHigh] & kUtf8NameBit)
                && !writeCleared(file.get(), entry.localHeaderAt + kLocalFlagsHigh, local[kLocalFlagsHigh])))
            return describeErrno(errno, archivePath);
        if (retime
            && (!writeTime(file.get(), entry.centralHeaderAt + kCentralTime, time->second)
                || !writeTime(file.get(), entry.localHeaderAt + kLocalTime, time->second)))
            return describeErrno(errno, archivePath);
    }
    return std::nullopt;
}

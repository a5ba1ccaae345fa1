#include "ArchiveCheck.h"

#include "EntryCheck.h"
#include "UniqueFd.h"
#include "ZipDirectory.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <thread>

namespace {

using Entry = ZipDirectory::Entry;

// Below this much data one reader is quicker than starting more.
constexpr uint64_t kBytesPerReader = 4 << 20;
constexpr unsigned kMostReaders = 4;

Failure checkNames(const std::vector<Entry>& entries, const std::vector<std::string>& expectedEntries,
                   const std::string& archivePath)
{
    // Views, not copies: the names of a large archive are many.
    std::vector<std::string_view> names;
    names.reserve(entries.size());
    for (const Entry& entry : entries) {
        if (entry.flags & ZipDirectory::kUtf8NameFlag)
            return "an entry name is marked as UTF-8: " + entry.name;
        names.push_back(entry.name);
    }
    std::vector<std::string_view> expected(expectedEntries.begin(), expectedEntries.end());
    std::sort(expected.begin(), expected.end());
    std::sort(names.begin(), names.end());
    if (names != expected)
        return "the archive holds " + std::to_string(names.size()) + " entries where " + std::to_string(expected.size())
            + " were expected, or under other names: " + archivePath;
    return std::nullopt;
}

Failure checkEncrypted(const std::vector<Entry>& entries, const std::string& archivePath)
{
    for (const Entry& entry : entries)
        if (!entry.name.ends_with('/') && !(entry.flags & ZipDirectory::kEncryptedFlag))
            return "entry " + entry.name + " is not encrypted: " + archivePath;
    return std::nullopt;
}

// Splits the entries, in the order of their data, into runs of about equal
// size, one for each reader.
std::vector<std::vector<Entry>> runsOf(std::vector<Entry> entries)
{
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.localHeaderAt < b.localHeaderAt; });
    uint64_t total = 0;
    for (const Entry& entry : entries)
        total += entry.compressedSize;
    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    const uint64_t readers = std::clamp<uint64_t>(total / kBytesPerReader, 1, std::min(processors, kMostReaders));
    std::vector<std::vector<Entry>> runs(1);
    uint64_t inRun = 0;
    for (Entry& entry : entries) {
        if (inRun * readers >= total && runs.size() < readers) {
            runs.emplace_back();
            inRun = 0;
        }
        inRun += entry.compressedSize;
        runs.back().push_back(std::move(entry));
    }
    return runs;
}

Failure checkRun(int fd, const std::string& archivePath, const std::optional<std::string>& password,
                 const std::vector<Entry>& run, const std::atomic_bool& abandoned)
{
    EntryCheck reader(fd, archivePath, password, abandoned);
    for (const Entry& entry : run) {
        if (abandoned)
            return "the check was stopped: " + archivePath;
        if (Failure failure = reader.check(entry))
            return failure;
    }
    return std::nullopt;
}

} // namespace

Failure ArchiveCheck::verify(const std::string& archivePath, const std::vector<std::string>& expectedEntries,
                             const std::optional<std::string>& password,
                             const std::shared_ptr<std::atomic_bool>& abandoned)
{
    const UniqueFd file(::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.isOpen())
        return describeErrno(errno, archivePath);
    std::vector<Entry> entries;
    if (Failure broken = ZipDirectory::read(file.get(), archivePath, entries))
        return broken;
    if (Failure names = checkNames(entries, expectedEntries, archivePath))
        return names;
    if (password)
        if (Failure plain = checkEncrypted(entries, archivePath))
            return plain;
    const std::vector<std::vector<Entry>> runs = runsOf(std::move(entries));
    std::vector<Failure> failures(runs.size());
    {
        std::vector<std::jthread> readers;
        for (size_t i = 1; i < runs.size(); ++i)
            readers.emplace_back(
                [&, i] { failures[i] = checkRun(file.get(), archivePath, password, runs[i], *abandoned); });
        failures[0] = checkRun(file.get(), archivePath, password, runs[0], *abandoned);
    }
    for (const Failure& failure : failures)
        if (failure)
            return failure;
    return std::nullopt;
}

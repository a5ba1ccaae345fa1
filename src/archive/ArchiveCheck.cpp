#include "ArchiveCheck.h"

#include "EntryCheck.h"
#include "UniqueFd.h"
#include "ZipDirectory.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <span>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

using Entry = ZipDirectory::Entry;

const std::string kChanged = kChangedWhileRunning;

// Below this much work one reader is quicker than starting more. An entry
// costs about as much as inflating this many bytes before its first byte
// comes out (its tables are built): many small entries are work too.
constexpr uint64_t kBytesPerReader = 4 << 20;
constexpr uint64_t kBytesPerEntry = 8 << 10;
// An entry read while the archive was written costs only its local header.
constexpr uint64_t kBytesPerHeader = 256;
constexpr unsigned kMostReaders = 4;

Failure checkNames(const std::vector<Entry>& entries, const std::vector<std::string>& expectedEntries,
                   const std::string& archivePath)
{
    // Views, not copies: the names of a large archive are many.
    std::vector<std::string_view> names;
    names.reserve(entries.size());
    for (const Entry& entry : entries) {
        if (entry.flags & ZipDirectory::kUtf8NameFlag)
            return ArchiveCheck::kUtf8Name + entry.name;
        names.push_back(entry.name);
    }
    std::vector<std::string_view> expected(expectedEntries.begin(), expectedEntries.end());
    std::sort(expected.begin(), expected.end());
    std::sort(names.begin(), names.end());
    if (names != expected)
        return ArchiveCheck::kEntryCount + std::to_string(names.size()) + ArchiveCheck::kEntriesExpected
            + std::to_string(expected.size())
            + " were expected, or under other names: " + archivePath;
    return std::nullopt;
}

Failure checkEncrypted(const std::vector<Entry>& entries, const std::string& archivePath)
{
    for (const Entry& entry : entries)
        if (!entry.name.ends_with('/') && !(entry.flags & ZipDirectory::kEncryptedFlag))
            return EntryCheck::kEntry + entry.name + ArchiveCheck::kNotEncrypted + archivePath;
    return std::nullopt;
}

// Splits the entries, in the order of their data, into runs of about equal
// work, one for each reader.
std::vector<std::span<const Entry>> runsOf(std::span<const Entry> entries, const FollowedArchive* followed)
{
    // Where the data begins is not known yet: an entry read at its place
    // with its checksum and sizes is taken as read.
    std::vector<uint64_t> work(entries.size());
    uint64_t total = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        work[i] = followed && followed->readAs(entries[i]) ? kBytesPerHeader
                                                            : entries[i].compressedSize + kBytesPerEntry;
        total += work[i];
    }
    const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    const uint64_t readers = std::clamp<uint64_t>(total / kBytesPerReader, 1, std::min(processors, kMostReaders));
    std::vector<std::span<const Entry>> runs;
    size_t begin = 0;
    uint64_t inRun = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (inRun * readers >= total && runs.size() + 1 < readers) {
            runs.push_back(entries.subspan(begin, i - begin));
            begin = i;
            inRun = 0;
        }
        inRun += work[i];
    }
    runs.push_back(entries.subspan(begin));
    return runs;
}

Failure checkRun(int fd, const std::string& archivePath, const std::optional<std::string>& password,
                 std::span<const Entry> run, const std::function<bool()>& stopped, const FollowedArchive* followed)
{
    EntryCheck reader(fd, archivePath, password, stopped);
    return reader.checkAll(run, followed);
}

// What was followed, if it was this very file.
const FollowedArchive* ifSameFile(int fd, const FollowedArchive* followed)
{
    struct stat info {};
    if (!followed || ::fstat(fd, &info) != 0 || info.st_dev != followed->device || info.st_ino != followed->inode)
        return nullptr;
    return followed;
}

// How the file that a staged link leads to now differs from the one
// staged; nothing when it does not.
std::optional<std::string> changeOf(int folder, const StagedFile& file)
{
    struct stat now {};
    if (::fstatat(folder, file.path.c_str(), &now, 0) != 0)
        return errno == ENOENT ? "gone or renamed" : describeErrno(errno, file.path);
    if (now.st_dev != file.device || now.st_ino != file.inode)
        return std::string("another file in its place");
    if (now.st_size != file.size)
        return "its size changed from " + std::to_string(file.size) + " to " + std::to_string(now.st_size) + " bytes";
    if (now.st_mtim.tv_sec != file.modified.tv_sec || now.st_mtim.tv_nsec != file.modified.tv_nsec)
        return std::string("modified");
    if (now.st_mode != file.mode)
        return std::string("its permissions changed");
    return std::nullopt;
}

std::string linkText(int folder, const std::string& path)
{
    std::string text(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(folder, path.c_str(), text.data(), text.size());
    return length > 0 ? text.substr(0, static_cast<size_t>(length)) : std::string();
}

// The user's path a symbolic link leads to, through the link to its folder
// ("../../.links/7/name") where it goes that way; for a hard link, which
// has none of its own, the file as the archive names it.
std::string userPathOf(int folder, const StagedFile& file)
{
    const std::string text = file.symbolic ? linkText(folder, file.path) : std::string();
    if (text.empty() || text.starts_with('/'))
        return text.empty() ? file.path : text;
    // Below the output folder: the anchor's two components, then the name.
    const std::filesystem::path inOutput = (std::filesystem::path(file.path).parent_path() / text).lexically_normal();
    auto part = inOutput.begin();
    std::filesystem::path anchor;
    for (int i = 0; i < 2 && part != inOutput.end(); ++i, ++part)
        anchor /= *part;
    std::filesystem::path rest;
    for (; part != inOutput.end(); ++part)
        rest /= *part;
    const std::string folderText = linkText(folder, anchor.string());
    return folderText.empty() ? inOutput.string() : folderText + "/" + rest.string();
}

} // namespace

Failure ArchiveCheck::changedItem(const std::string& outputFolder, const std::vector<StagedFile>& files,
                                  const std::atomic_bool& abandoned, const std::vector<bool>* asked)
{
    const UniqueFd folder(::open(outputFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        return describeErrno(errno, outputFolder);
    for (size_t i = 0; i < files.size(); ++i) {
        if (abandoned)
            return "the check was stopped: " + outputFolder;
        if (asked && i < asked->size() && (*asked)[i])
            continue;
        if (Failure change = changeOfFile(folder.get(), files[i]))
            return change;
    }
    return std::nullopt;
}

Failure ArchiveCheck::changedLink(const std::string& outputFolder, const std::vector<StagedFile>& files,
                                  const std::atomic_bool& abandoned)
{
    std::vector<bool> hardLinks(files.size());
    for (size_t i = 0; i < files.size(); ++i)
        hardLinks[i] = !files[i].symbolic;
    return changedItem(outputFolder, files, abandoned, &hardLinks);
}

Failure ArchiveCheck::changeOfFile(int outputFolder, const StagedFile& file)
{
    if (const std::optional<std::string> change = changeOf(outputFolder, file))
        return kChanged + userPathOf(outputFolder, file) + " (" + *change + ")";
    return std::nullopt;
}

bool ArchiveCheck::isChangedItem(const std::string& failure)
{
    return failure.starts_with(kChanged);
}

std::optional<std::string> ArchiveCheck::changedPathOf(const std::string& failure)
{
    // What happened comes last, in parentheses; the path may hold some too.
    const size_t why = failure.rfind(" (");
    if (!isChangedItem(failure) || why == std::string::npos || why < kChanged.size())
        return std::nullopt;
    return failure.substr(kChanged.size(), why - kChanged.size());
}

Failure ArchiveCheck::verify(const std::string& archivePath, const std::vector<std::string>& expectedEntries,
                             const std::optional<std::string>& password,
                             const std::shared_ptr<std::atomic_bool>& abandoned, const FollowedArchive* followed)
{
    const UniqueFd file(::open(archivePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.isOpen())
        return describeErrno(errno, archivePath);
    std::vector<Entry> entries;
    if (Failure broken = ZipDirectory::read(file.get(), archivePath, entries))
        return broken;
    const auto byPlace = [](const Entry& a, const Entry& b) { return a.localHeaderAt < b.localHeaderAt; };
    // A writer's directory mostly lists the entries in the order it wrote them.
    if (!std::is_sorted(entries.begin(), entries.end(), byPlace))
        std::sort(entries.begin(), entries.end(), byPlace);
    // The names are compared beside the readers; a wrong name stops them
    // and is the failure told.
    Failure names;
    std::atomic_bool namesWrong = false;
    const auto compareNames = [&] {
        names = checkNames(entries, expectedEntries, archivePath);
        namesWrong = names.has_value();
    };
    // Where the system gives no more threads (a limit on the user's
    // processes or address space), the work is done here, one part after
    // the other.
    std::jthread namesCheck;
    try {
        namesCheck = std::jthread(compareNames);
    } catch (const std::system_error&) {
        compareNames();
    }
    const std::function<bool()> stopped = [&] { return abandoned->load() || namesWrong.load(); };
    Failure plain = password ? checkEncrypted(entries, archivePath) : std::nullopt;
    std::vector<Failure> failures;
    if (!plain) {
        followed = ifSameFile(file.get(), followed);
        const std::vector<std::span<const Entry>> runs = runsOf(entries, followed);
        failures.resize(runs.size());
        std::vector<std::jthread> readers;
        for (size_t i = 1; i < runs.size(); ++i) {
            const auto readRun = [&, i] {
                failures[i] = checkRun(file.get(), archivePath, password, runs[i], stopped, followed);
            };
            try {
                readers.emplace_back(readRun);
            } catch (const std::system_error&) {
                readRun();
            }
        }
        failures[0] = checkRun(file.get(), archivePath, password, runs[0], stopped, followed);
    }
    if (namesCheck.joinable())
        namesCheck.join();
    if (names)
        return names;
    if (plain)
        return plain;
    for (const Failure& failure : failures)
        if (failure)
            return failure;
    return std::nullopt;
}

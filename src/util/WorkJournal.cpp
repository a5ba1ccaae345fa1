#include "WorkJournal.h"

#include "FileManager.h"
#include "Log.h"
#include "LogPrefix.h"
#include "PathText.h"
#include "PrivateFolder.h"
#include "UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kNewSuffix = ".new";
const char* const kLockSuffix = ".lock";
// A record is a few lines per item: anything larger is no record.
constexpr off_t kLargestRecord = 1 << 20;
// A record is written in well under a second: one without its owner that
// is older than this was cut short.
constexpr time_t kUnfinishedRecordSeconds = 60;

// Paths are bytes that may hold blanks and line breaks: they are kept as hex.
std::string toHex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::optional<std::string> fromHex(const std::string& hex)
{
    if (hex.size() % 2)
        return std::nullopt;
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const std::string pair = hex.substr(i, 2);
        char* end = nullptr;
        const long value = std::strtol(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2)
            return std::nullopt;
        bytes += static_cast<char>(value);
    }
    return bytes;
}

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.')
                names.emplace_back(entry->d_name);
        ::closedir(dir);
    }
    return names;
}

// Earlier versions staged every job in one folder, under a lock on the
// work root that they held while they worked there.
void removeSharedStagingFolder(const WorkFolders& folders)
{
    const std::string shared = WorkFolders(PathText::parentFolder(folders.tmpDirectory())).stagingFolder();
    if (!FileManager::exists(shared))
        return;
    const UniqueFd root(::open(folders.tmpDirectory().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.isOpen() && ::flock(root.get(), LOCK_EX | LOCK_NB) == 0 && FileManager::removeItem(shared))
        Log::line(LogPrefix::kStagingNotRemoved);
}


const char* kindWord(WorkJournal::Kind kind)
{
    switch (kind) {
    case WorkJournal::Kind::Staging:
        return "staging";
    case WorkJournal::Kind::Part:
        return "part";
    case WorkJournal::Kind::Placeholder:
        return "placeholder";
    }
    return "staging";
}

std::optional<WorkJournal::Kind> kindOf(const std::string& word)
{
    for (const WorkJournal::Kind kind :
         {WorkJournal::Kind::Staging, WorkJournal::Kind::Part, WorkJournal::Kind::Placeholder})
        if (word == kindWord(kind))
            return kind;
    return std::nullopt;
}

} // namespace

// A file of the job beside the user's items that cannot be looked for now:
// it cannot be looked at (an input/output error), or the nearest folder
// above it that is there lies on another disk than the file did (the bare
// mount point of a stick that was pulled out). A folder removed from a disk
// that is still there took the file with it.
bool WorkJournal::isOutOfReach(const Entry& entry)
{
    if (entry.kind == Kind::Staging)
        return false;
    struct stat info {};
    if (::lstat(entry.path.c_str(), &info) == 0)
        return false;
    if (errno != ENOENT)
        return true;
    for (std::string folder = PathText::parentFolder(entry.path);; folder = PathText::parentFolder(folder)) {
        if (::stat(folder.c_str(), &info) == 0)
            return entry.device != 0 && info.st_dev != entry.device;
        if (errno != ENOENT)
            return true;
        if (folder == "/" || folder == ".")
            return false;
    }
}

WorkJournal::WorkJournal(WorkFolders folders)
    : WorkJournal(std::move(folders), Record{ProcessIdentity::ofThisProcess(), false, false, {}})
{
}

WorkJournal::WorkJournal(WorkFolders folders, Record record)
    : m_folders(std::move(folders))
    , m_record(std::move(record))
{
}

std::string WorkJournal::recordPath() const
{
    return m_folders.journalFolder() + "/" + m_folders.job();
}

std::string WorkJournal::lockPath() const
{
    return recordPath() + kLockSuffix;
}

// Over NFS a lock of the whole file stands for flock, and an exclusive one
// needs the file open for writing: the lock file is opened so everywhere.
bool WorkJournal::isLockHeld(const std::string& lockFile)
{
    const UniqueFd file(::open(lockFile.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return file.isOpen() && ::flock(file.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

Failure WorkJournal::intend(Kind kind, const std::string& path, int* systemError)
{
    // Beside the user's items, the disk of the folder is noted at once: a
    // stick pulled out before the file is there leaves a bare mount point
    // in its place, which is no sign that the file has gone.
    struct stat folder {};
    const dev_t device = kind != Kind::Staging && ::stat(PathText::parentFolder(path).c_str(), &folder) == 0
        ? folder.st_dev
        : 0;
    m_record.entries.push_back({kind, path, device, 0});
    return write(systemError);
}

void WorkJournal::made(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return;
    for (Entry& entry : m_record.entries)
        if (entry.path == path) {
            entry.device = info.st_dev;
            entry.inode = info.st_ino;
        }
    // The entry is still there without its inode: a name only a job gives
    // finds it all the same. Not told: nothing is lost, and a full disk that
    // kept it from being written fails the job's next step, which tells it.
    (void)write();
}

void WorkJournal::forget(const std::string& path)
{
    std::erase_if(m_record.entries, [&](const Entry& entry) { return entry.path == path; });
    // Left written down, it would still be removed only while it is what
    // the job made (its inode, or for a placeholder, empty): not told.
    (void)write();
}

// The whole record at once, by renaming a new one over it: a reader never
// sees half of it.
Failure WorkJournal::write(int* systemError)
{
    // Records of a folder that is not the user's own could name anything
    // to remove.
    for (const std::string& folder : {m_folders.tmpDirectory(), m_folders.journalFolder()})
        if (Failure error = PrivateFolder::make(folder, systemError))
            return error;
    if (!m_lock.isOpen() && !m_record.ended) {
        UniqueFd lock(::open(lockPath().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        // A home folder whose file system keeps no locks (a network share
        // without its lock service) still takes jobs: their records are
        // then known by their process alone, as before locks.
        if (!lock.isOpen() || (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK)) {
            const int error = errno;
            if (systemError)
                *systemError = error;
            return describeErrno(error, lockPath());
        }
        m_lock = std::move(lock);
    }
    std::ostringstream text;
    text << "owner " << m_record.owner.pid << ' ' << m_record.owner.startTime << '\n';
    if (m_record.ended)
        text << "ended\n";
    if (m_record.reported)
        text << "reported\n";
    for (const Entry& entry : m_record.entries)
        text << kindWord(entry.kind) << ' ' << toHex(entry.path) << ' ' << entry.device << ' ' << entry.inode << '\n';
    const std::string record = recordPath(), fresh = record + kNewSuffix;
    const UniqueFd file(::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    const std::string bytes = text.str();
    if (!file.isOpen() || !UniqueFd::writeAll(file.get(), bytes.data(), bytes.size())
        || ::rename(fresh.c_str(), record.c_str()) != 0) {
        const int error = errno;
        if (systemError)
            *systemError = error;
        return describeErrno(error, record);
    }
    return std::nullopt;
}

void WorkJournal::clear()
{
    ::unlink(recordPath().c_str());
    ::unlink((recordPath() + kNewSuffix).c_str());
    ::unlink(lockPath().c_str());
    m_lock = UniqueFd();
}

std::optional<WorkJournal::Record> WorkJournal::read(const std::string& file)
{
    // Only a file of the user's own is a record: not what a link leads to,
    // and not a FIFO, which would wait for a writer for ever.
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()
        || info.st_size > kLargestRecord)
        return std::nullopt;
    std::string text(static_cast<size_t>(info.st_size), '\0');
    const ssize_t got = ::pread(fd.get(), text.data(), text.size(), 0);
    if (got < 0)
        return std::nullopt;
    text.resize(static_cast<size_t>(got));
    std::istringstream in(text);
    Record record;
    std::string word;
    bool hasOwner = false;
    while (in >> word) {
        if (word == "owner") {
            hasOwner = static_cast<bool>(in >> record.owner.pid >> record.owner.startTime);
        } else if (word == "ended") {
            record.ended = true;
        } else if (word == "reported") {
            record.reported = true;
        } else if (const std::optional<Kind> kind = kindOf(word)) {
            std::string hex;
            Entry entry;
            entry.kind = *kind;
            if (!(in >> hex >> entry.device >> entry.inode))
                return std::nullopt;
            const std::optional<std::string> path = fromHex(hex);
            if (!path)
                return std::nullopt;
            entry.path = *path;
            record.entries.push_back(entry);
        } else {
            return std::nullopt;
        }
    }
    if (!hasOwner)
        return std::nullopt;
    return record;
}

bool WorkJournal::isPartName(const std::string& name)
{
    const std::string_view prefix(kPartPrefix), suffix(kPartSuffix);
    if (name.size() != prefix.size() + kPartNameDrawn + suffix.size() || !name.starts_with(prefix)
        || !name.ends_with(suffix))
        return false;
    const std::string_view drawn = std::string_view(name).substr(prefix.size(), kPartNameDrawn);
    return std::ranges::all_of(drawn, [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// Only what the job made is removed: the very inode it noted, or, where it
// was killed before it could note one, an item of ours under a name only a
// job gives.
bool WorkJournal::isOurs(const Entry& entry, const WorkFolders& folders)
{
    struct stat info {};
    if (::lstat(entry.path.c_str(), &info) != 0 || info.st_uid != ::geteuid())
        return false;
    // The file systems that need a placeholder (FUSE ones) give a file
    // another inode number each time they are mounted, and may give its
    // number to another file: a stick plugged in again can hold the user's
    // archive under the number the job noted. The placeholder is known by
    // what it is instead, an empty file, which holds nothing to lose.
    if (entry.kind == Kind::Placeholder)
        return S_ISREG(info.st_mode) && info.st_size == 0;
    if (entry.inode != 0 && info.st_dev == entry.device && info.st_ino == entry.inode)
        return true;
    const std::string name = PathText::lastComponent(entry.path);
    // A part file's name is the job's own, drawn at random: on such a
    // stick, plugged in again, it is the job's whatever its number.
    if (entry.kind == Kind::Part)
        return isPartName(name) && S_ISREG(info.st_mode);
    if (entry.inode != 0)
        return false;
    const std::string parent = PathText::parentFolder(entry.path);
    return WorkFolders::isStagingName(name) && (parent == folders.tmpDirectory() || parent == folders.memoryRoot())
        && S_ISDIR(info.st_mode);
}

void WorkJournal::removeAll()
{
    m_record.ended = true;
    write();
    Failure first;
    bool awaited = false;
    for (const Entry& entry : m_record.entries) {
        if (!isOurs(entry, m_folders)) {
            // Its folder out of reach (a stick pulled out or unmounted, a
            // share gone), the file may be there again when it comes back:
            // the record waits for it. The job's own failure told the user.
            awaited = awaited || isOutOfReach(entry);
            continue;
        }
        // Another clean-up (the start's, or another process's) may have
        // taken it meanwhile: gone is what was wanted.
        if (Failure error = FileManager::removeItem(entry.path); error && !first && FileManager::exists(entry.path))
            first = error;
    }
    if (!first && !awaited) {
        clear();
        return;
    }
    if (first && !m_record.reported) {
        Log::line(LogPrefix::kCleanup + *first);
        m_record.reported = true;
    }
    write();
}

// A new record beside its whole one is read when the whole one is. Without
// one, it is the first record of a job, which had made nothing yet: either
// one being written at this moment (by another process, or by a job of this
// one that started while the start's clean-up ran), or one cut short.
void WorkJournal::removeUnfinished(const std::string& file, const ProcessIdentity& self)
{
    if (FileManager::exists(file.substr(0, file.size() - std::string(kNewSuffix).size())))
        return;
    if (const std::optional<Record> record = read(file)) {
        if (record->owner == self || record->owner.isAlive())
            return;
    } else {
        struct stat info {};
        if (::lstat(file.c_str(), &info) != 0 || ::time(nullptr) - info.st_mtim.tv_sec < kUnfinishedRecordSeconds)
            return;
    }
    ::unlink(file.c_str());
}

// The lock of a job killed before its first record was whole: a job
// makes its lock just before that record, so only an old one is left over.
void WorkJournal::removeUnheldLock(const std::string& file)
{
    if (FileManager::exists(file.substr(0, file.size() - std::string(kLockSuffix).size())))
        return;
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || ::time(nullptr) - info.st_mtim.tv_sec < kUnfinishedRecordSeconds
        || isLockHeld(file))
        return;
    ::unlink(file.c_str());
}

void WorkJournal::removeLeftovers(const WorkFolders& folders)
{
    removeSharedStagingFolder(folders);
    const std::string journal = folders.journalFolder();
    const ProcessIdentity self = ProcessIdentity::ofThisProcess();
    if (!FileManager::exists(journal) || PrivateFolder::make(journal))
        return;
    for (const std::string& name : namesIn(journal)) {
        if (name.ends_with(kNewSuffix)) {
            removeUnfinished(journal + "/" + name, self);
            continue;
        }
        if (name.ends_with(kLockSuffix)) {
            removeUnheldLock(journal + "/" + name);
            continue;
        }
        const std::optional<Record> record = read(journal + "/" + name);
        // This process's jobs clean up after themselves, on a thread of
        // their own that may be at work right now: only a record of one
        // that has ended, and let its lock go, is left here (what it could
        // not reach then: a stick pulled out, plugged in again since). A
        // process that has gone cleans up nothing. One in another pid
        // namespace, or on another machine, is known by its lock alone.
        const bool ownJob = record && record->owner == self;
        if (ownJob ? !record->ended : record && record->owner.isAlive())
            continue;
        if (isLockHeld(journal + "/" + name + kLockSuffix))
            continue;
        WorkJournal(WorkFolders(PathText::parentFolder(folders.tmpDirectory()), name), record.value_or(Record{}))
            .removeAll();
    }
}

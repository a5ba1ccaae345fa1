#include "ArchiveFollower.h"

#include "ArchiveCheck.h"
#include "EntryCheck.h"
#include "ZipDecryptor.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

using Entry = ZipDirectory::Entry;

constexpr size_t kBufferSize = 1 << 20;
constexpr size_t kFirstRead = 64 << 10;
// The most an entry read here may inflate to, as in the read-back.
constexpr uint64_t kLargestInflated = 4 << 20;
constexpr std::chrono::milliseconds kLookInterval{3};
// php's temporary name: the archive's, a dot and six characters.
constexpr size_t kTemporarySuffix = 7;
// zipcloak's: "zi" and six characters.
constexpr std::string_view kCloakPrefix = "zi";
constexpr size_t kCloakNameLength = 8;
constexpr size_t kEncryptionHeaderSize = 12;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
constexpr uint16_t kDataDescriptorFlag = 1u << 3;
constexpr uint32_t kUse64 = 0xFFFFFFFF;

bool isMethodUsed(uint16_t method)
{
    return method == kStored || method == kDeflated;
}

bool isHeader(const uint8_t* at)
{
    const uint32_t signature = ZipDirectory::le32(at);
    return signature == ZipDirectory::kLocalHeader || signature == ZipDirectory::kCentralHeader;
}

size_t readAt(int fd, uint8_t* data, size_t size, uint64_t at)
{
    ssize_t got = -1;
    do
        got = ::pread(fd, data, size, static_cast<off_t>(at));
    while (got < 0 && errno == EINTR);
    return got > 0 ? static_cast<size_t>(got) : 0;
}

} // namespace

ArchiveFollower::ArchiveFollower(std::string outputFolder, std::string archiveName,
                                 const StagedContent& content, std::shared_ptr<std::atomic_bool> abandoned,
                                 std::optional<std::string> password)
    : m_outputFolder(std::move(outputFolder))
    , m_archiveName(std::move(archiveName))
    , m_content(content)
    , m_abandoned(std::move(abandoned))
    , m_password(std::move(password))
{
    m_read->encrypted = m_password.has_value();
}

ArchiveFollower::~ArchiveFollower() = default;

void ArchiveFollower::start()
{
    // Following only spares the read-back work: where the system gives no
    // thread for it, the read-back reads the whole archive.
    try {
        m_thread = std::jthread([this](std::stop_token stop) { follow(stop); });
    } catch (const std::system_error&) {
    }
}

std::shared_ptr<const FollowedArchive> ArchiveFollower::finish()
{
    const std::lock_guard lock(m_finishing);
    if (m_finished)
        return m_read;
    m_finished = true;
    if (m_thread.joinable()) {
        m_thread.request_stop();
        m_thread.join();
    }
    m_check.reset();
    m_buffer = {};
    m_plain = {};
    m_file = UniqueFd();
    m_folder = UniqueFd();
    m_fileOfEntry = {};
    return m_read;
}

void ArchiveFollower::follow(std::stop_token stop)
{
    std::unique_lock lock(m_mutex);
    while (!stop.stop_requested() && !*m_abandoned && !readMore(stop))
        m_wake.wait_for(lock, stop, kLookInterval, [] { return false; });
    // A job given up may have removed the file: its space goes now, not
    // when the job itself goes.
    if (*m_abandoned) {
        m_check.reset();
        m_file = UniqueFd();
    }
}

bool ArchiveFollower::readMore(std::stop_token stop)
{
    if (m_done || (!m_file.isOpen() && !openWritten()))
        return m_done;
    struct stat info {};
    if (::fstat(m_file.get(), &info) != 0)
        return m_done = true;
    // Stopped, it leaves the rest to the read-back, which reads on more
    // than one processor.
    while (!m_done && !*m_abandoned && !stop.stop_requested() && readFinished(static_cast<uint64_t>(info.st_size))) {
    }
    return m_done;
}

bool ArchiveFollower::isWrittenName(std::string_view name) const
{
    if (m_password)
        return name.size() == kCloakNameLength && name.starts_with(kCloakPrefix) && name != m_archiveName;
    return name.size() == m_archiveName.size() + kTemporarySuffix && name.starts_with(m_archiveName)
        && name[m_archiveName.size()] == '.';
}

bool ArchiveFollower::openWritten()
{
    DIR* folder = ::opendir(m_outputFolder.c_str());
    if (!folder)
        return false;
    std::string name;
    while (const dirent* entry = ::readdir(folder)) {
        if (isWrittenName(entry->d_name)) {
            name = entry->d_name;
            break;
        }
    }
    ::closedir(folder);
    if (name.empty())
        return false;
    // Gone already when php has finished: the read-back reads it all.
    m_file = UniqueFd(::open((m_outputFolder + "/" + name).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!m_file.isOpen() || ::fstat(m_file.get(), &info) != 0) {
        m_done = true;
        return false;
    }
    m_read->device = info.st_dev;
    m_read->inode = info.st_ino;
    m_buffer = std::make_unique_for_overwrite<uint8_t[]>(kBufferSize);
    // zipcloak reads no staged file.
    if (!m_password)
        m_folder = UniqueFd(::open(m_outputFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (m_folder.isOpen()) {
        const std::vector<StagedFile>& files = m_content.linkedFiles;
        m_read->asked.assign(files.size(), false);
        m_fileOfEntry.reserve(files.size());
        for (size_t i = 0; i < files.size(); ++i)
            if (files[i].entry < m_content.expectedEntries.size())
                m_fileOfEntry.emplace_back(m_content.expectedEntries[files[i].entry], i);
        std::sort(m_fileOfEntry.begin(), m_fileOfEntry.end());
    }
    m_check = std::make_unique<EntryCheck>(m_file.get(), m_outputFolder + "/" + name, std::nullopt,
                                           [abandoned = m_abandoned] { return abandoned->load(); });
    return true;
}

bool ArchiveFollower::readFinished(uint64_t fileSize)
{
    if (fileSize <= m_next)
        return false;
    // Read afresh each time: a header read before php rewrote it is stale.
    // A little first, so that while php writes a large entry only its
    // beginning is read again; once the first entry is whole, all there is
    // (as much as the buffer holds).
    const uint64_t available = fileSize - m_next;
    size_t got = readAt(m_file.get(), m_buffer.get(), std::min<uint64_t>(available, kFirstRead), m_next);
    if (got >= ZipDirectory::kLocalHeaderSize && isMethodUsed(ZipDirectory::le16(m_buffer.get() + 8))) {
        const uint8_t* header = m_buffer.get();
        const uint64_t firstEntry = ZipDirectory::kLocalHeaderSize + ZipDirectory::le16(header + 26)
            + ZipDirectory::le16(header + 28) + ZipDirectory::le32(header + 18) + 4;
        const auto all = static_cast<size_t>(std::min<uint64_t>(available, kBufferSize));
        if (firstEntry > got && firstEntry <= all)
            got = readAt(m_file.get(), m_buffer.get(), all, m_next);
    }
    uint64_t largeFirst = 0;
    const std::vector<Written> written = writtenIn(got, largeFirst);
    if (largeFirst)
        return passOverLarge(largeFirst);
    if (m_password)
        decryptAll(written);
    size_t taken = 0;
    size_t plainAt = 0;
    for (const Written& entry : written) {
        const size_t dataSize = static_cast<size_t>(entry.entry.compressedSize);
        const uint8_t* data = m_password ? m_plain.data() + plainAt + kEncryptionHeaderSize
                                         : m_buffer.get() + entry.at + entry.headerSize;
        plainAt += dataSize;
        if (m_check->checkWhole(entry.entry, data, m_password ? dataSize - kEncryptionHeaderSize : dataSize)) {
            // php may still rewrite the header: read again at the next
            // look. What zipcloak has written stays as it is.
            m_done = m_password.has_value();
            break;
        }
        m_read->entries.push_back({m_next + entry.at, m_next + entry.at + entry.headerSize, entry.entry.compressedSize,
                                   entry.entry.size, entry.entry.crc, entry.entry.method});
        if (!m_password)
            askAboutFile({reinterpret_cast<const char*>(m_buffer.get()) + entry.at + ZipDirectory::kLocalHeaderSize,
                          ZipDirectory::le16(m_buffer.get() + entry.at + 26)});
        taken = entry.at + entry.headerSize + dataSize;
    }
    m_next += taken;
    return taken > 0;
}

std::vector<ArchiveFollower::Written> ArchiveFollower::writtenIn(size_t got, uint64_t& largeFirst)
{
    std::vector<Written> written;
    size_t at = 0;
    while (got - at >= 4) {
        const uint8_t* header = m_buffer.get() + at;
        if (ZipDirectory::le32(header) == ZipDirectory::kCentralHeader) {
            m_done = true;
            break;
        }
        if (ZipDirectory::le32(header) != ZipDirectory::kLocalHeader || got - at < ZipDirectory::kLocalHeaderSize)
            break;
        const uint16_t flags = ZipDirectory::le16(header + 6);
        Entry entry;
        entry.flags = flags;
        entry.method = ZipDirectory::le16(header + 8);
        entry.crc = ZipDirectory::le32(header + 14);
        entry.compressedSize = ZipDirectory::le32(header + 18);
        entry.size = ZipDirectory::le32(header + 22);
        const size_t headerSize = ZipDirectory::kLocalHeaderSize + ZipDirectory::le16(header + 26) + ZipDirectory::le16(header + 28);
        // Sizes elsewhere than in this header, or encrypted otherwise than
        // the writer followed encrypts: nothing here to follow by.
        const bool encrypted = flags & ZipDirectory::kEncryptedFlag;
        if (encrypted != m_password.has_value() || flags & kDataDescriptorFlag || entry.compressedSize == kUse64
            || entry.size == kUse64 || (encrypted && entry.compressedSize < kEncryptionHeaderSize)) {
            m_done = true;
            break;
        }
        // php's placeholder has no method yet.
        if (!isMethodUsed(entry.method))
            break;
        const uint64_t entrySize = headerSize + entry.compressedSize;
        if (entrySize + 4 > kBufferSize || entry.size > kLargestInflated) {
            if (written.empty())
                largeFirst = entrySize;
            break;
        }
        if (at + entrySize + 4 > got || !isHeader(header + entrySize))
            break;
        written.push_back({at, headerSize, entry});
        at += entrySize;
    }
    return written;
}

void ArchiveFollower::decryptAll(const std::vector<Written>& written)
{
    size_t total = 0;
    for (const Written& entry : written)
        total += static_cast<size_t>(entry.entry.compressedSize);
    m_plain.resize(total);
    std::vector<std::span<uint8_t>> pieces;
    pieces.reserve(written.size());
    size_t at = 0;
    for (const Written& entry : written) {
        const uint8_t* data = m_buffer.get() + entry.at + entry.headerSize;
        const size_t size = static_cast<size_t>(entry.entry.compressedSize);
        std::copy(data, data + size, m_plain.data() + at);
        pieces.emplace_back(m_plain.data() + at, size);
        at += size;
    }
    ZipDecryptor::decryptEach(*m_password, pieces);
}

void ArchiveFollower::askAboutFile(std::string_view name)
{
    const auto found = std::lower_bound(m_fileOfEntry.begin(), m_fileOfEntry.end(), name,
                                        [](const auto& file, std::string_view key) { return file.first < key; });
    if (found == m_fileOfEntry.end() || found->first != name || m_read->change)
        return;
    m_read->change = ArchiveCheck::changeOfFile(m_folder.get(), m_content.linkedFiles[found->second]);
    m_read->asked[found->second] = !m_read->change;
}

bool ArchiveFollower::passOverLarge(uint64_t entrySize)
{
    uint8_t next[4];
    if (readAt(m_file.get(), next, sizeof next, m_next + entrySize) != sizeof next || !isHeader(next))
        return false;
    m_next += entrySize;
    return true;
}

#include "EntryCheck.h"

#include "ArchiveCheck.h"

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <unistd.h>

namespace {

constexpr size_t kBufferSize = 1 << 20;
// What a read for a header alone reads where the next header lies beyond a
// small read: the header and its name, most likely.
constexpr size_t kHeaderRead = 4 << 10;
constexpr size_t kOutputSize = 1 << 16;
// The most an entry inflated in one call may give: its output buffer stays
// with the reader.
constexpr uint64_t kWholeEntryLimit = 4 << 20;
constexpr size_t kEncryptionHeaderSize = 12;
// How much encrypted data is held to be decrypted side by side.
constexpr size_t kHeldSize = 4 << 20;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
// Raw deflate data, without zlib's header.
constexpr int kRawDeflateWindow = -15;

} // namespace

EntryCheck::EntryCheck(int fd, const std::string& archivePath, const std::optional<std::string>& password,
                       std::function<bool()> stopped)
    : m_fd(fd)
    , m_path(archivePath)
    , m_stopped(std::move(stopped))
    , m_password(password)
    , m_buffer(std::make_unique_for_overwrite<uint8_t[]>(kBufferSize))
    , m_output(kOutputSize)
{
    m_inflaterReady = inflateInit2(&m_inflater, kRawDeflateWindow) == Z_OK;
    m_wholeInflater = libdeflate_alloc_decompressor();
}

EntryCheck::~EntryCheck()
{
    if (m_inflaterReady)
        inflateEnd(&m_inflater);
    if (m_wholeInflater)
        libdeflate_free_decompressor(m_wholeInflater);
}

Failure EntryCheck::checkAll(std::span<const ZipDirectory::Entry> entries, const FollowedArchive* followed)
{
    for (size_t i = 0; i < entries.size(); ++i) {
        const ZipDirectory::Entry& entry = entries[i];
        if (m_stopped())
            return "the check was stopped: " + m_path;
        uint64_t dataAt = 0;
        const uint64_t nextHeaderAt = i + 1 < entries.size() ? entries[i + 1].localHeaderAt : UINT64_MAX;
        Failure failure = locate(entry, nextHeaderAt, dataAt);
        if (!failure && followed && followed->hasRead(entry, dataAt))
            continue;
        if (!failure && holds(entry)) {
            failure = hold(entry, dataAt);
            if (!failure && m_held.size() < kHeldSize)
                continue;
        }
        // Those held come first.
        if (Failure earlier = checkHeld())
            return earlier;
        if (!failure && !holds(entry))
            failure = checkData(entry, dataAt);
        if (failure)
            return failure;
    }
    return checkHeld();
}

Failure EntryCheck::locate(const ZipDirectory::Entry& entry, uint64_t nextHeaderAt, uint64_t& dataAt)
{
    // Headers far apart are read one by one: the data between them was
    // read as it was written, or is read in reads of its own.
    const size_t reach = nextHeaderAt > entry.localHeaderAt && nextHeaderAt - entry.localHeaderAt > kSmallRead
        ? kHeaderRead : kSmallRead;
    const std::span<const uint8_t> header = bytesAt(entry.localHeaderAt, ZipDirectory::kLocalHeaderSize, reach);
    if (header.size() != ZipDirectory::kLocalHeaderSize || ZipDirectory::le32(header.data()) != ZipDirectory::kLocalHeader)
        return broken(entry, "no local header");
    const uint16_t flags = ZipDirectory::le16(header.data() + 6);
    const size_t nameSize = ZipDirectory::le16(header.data() + 26);
    const size_t extraSize = ZipDirectory::le16(header.data() + 28);
    if (flags & ZipDirectory::kUtf8NameFlag)
        return ArchiveCheck::kUtf8Name + entry.name;
    if ((flags ^ entry.flags) & ZipDirectory::kEncryptedFlag)
        return broken(entry, "local and central headers disagree on encryption");
    const uint64_t nameAt = entry.localHeaderAt + ZipDirectory::kLocalHeaderSize;
    const std::span<const uint8_t> name = bytesAt(nameAt, nameSize, reach);
    if (std::string_view(reinterpret_cast<const char*>(name.data()), name.size()) != entry.name)
        return broken(entry, "local header under another name");
    dataAt = nameAt + nameSize + extraSize;
    return std::nullopt;
}

bool EntryCheck::holds(const ZipDirectory::Entry& entry) const
{
    return m_password && (entry.flags & ZipDirectory::kEncryptedFlag)
        && (entry.method == kStored || entry.method == kDeflated) && entry.compressedSize >= kEncryptionHeaderSize
        && entry.compressedSize <= kBufferSize && entry.size <= kWholeEntryLimit;
}

Failure EntryCheck::hold(const ZipDirectory::Entry& entry, uint64_t dataAt)
{
    const std::span<const uint8_t> data = bytesAt(dataAt, static_cast<size_t>(entry.compressedSize));
    if (data.size() != entry.compressedSize)
        return broken(entry, "data cut short");
    m_heldEntries.push_back({&entry, m_held.size(), data.size()});
    m_held.insert(m_held.end(), data.begin(), data.end());
    return std::nullopt;
}

Failure EntryCheck::checkHeld()
{
    if (m_heldEntries.empty())
        return std::nullopt;
    std::vector<std::span<uint8_t>> pieces;
    pieces.reserve(m_heldEntries.size());
    for (const Held& held : m_heldEntries)
        pieces.emplace_back(m_held.data() + held.at, held.size);
    ZipDecryptor::decryptEach(*m_password, pieces);
    Failure failure;
    for (const Held& held : m_heldEntries) {
        failure = checkWhole(*held.entry, m_held.data() + held.at + kEncryptionHeaderSize,
                             held.size - kEncryptionHeaderSize);
        if (failure)
            break;
    }
    m_heldEntries.clear();
    m_held.clear();
    return failure;
}

Failure EntryCheck::checkData(const ZipDirectory::Entry& entry, uint64_t dataAt)
{
    if (entry.method != kStored && entry.method != kDeflated)
        return broken(entry, "compression method " + std::to_string(entry.method) + " is not one the writer uses");
    std::optional<ZipDecryptor> decryptor;
    uint64_t remaining = entry.compressedSize;
    if (entry.flags & ZipDirectory::kEncryptedFlag) {
        if (!m_password)
            return kEntry + entry.name + kEncrypted + m_path;
        const std::span<const uint8_t> head = bytesAt(dataAt, kEncryptionHeaderSize);
        if (remaining < kEncryptionHeaderSize || head.size() != kEncryptionHeaderSize)
            return broken(entry, "encryption header cut short");
        decryptor.emplace(*m_password);
        uint8_t plainHead[kEncryptionHeaderSize];
        std::copy(head.begin(), head.end(), plainHead);
        decryptor->decrypt(plainHead, sizeof plainHead);
        dataAt += kEncryptionHeaderSize;
        remaining -= kEncryptionHeaderSize;
    }
    if (entry.method == kDeflated && remaining <= kBufferSize && entry.size <= kWholeEntryLimit) {
        const std::span<const uint8_t> piece = bytesAt(dataAt, static_cast<size_t>(remaining));
        if (piece.size() != remaining)
            return broken(entry, "data cut short");
        return checkWhole(entry, plain(decryptor, piece), piece.size());
    }
    if (entry.method == kDeflated && (!m_inflaterReady || inflateReset(&m_inflater) != Z_OK))
        return "the decompressor cannot start: " + m_path;
    m_crc = 0;
    m_produced = 0;
    m_streamEnded = entry.method == kStored;
    while (remaining > 0) {
        if (m_stopped())
            return "the check was stopped: " + m_path;
        const std::span<const uint8_t> piece = bytesAt(dataAt, static_cast<size_t>(std::min<uint64_t>(remaining, kBufferSize)));
        if (piece.empty())
            return broken(entry, "data cut short");
        if (!take(entry, plain(decryptor, piece), piece.size()))
            return damaged(entry);
        dataAt += piece.size();
        remaining -= piece.size();
    }
    if (!m_streamEnded || m_produced != entry.size || m_crc != entry.crc)
        return wrongSize(entry);
    return std::nullopt;
}

Failure EntryCheck::checkWhole(const ZipDirectory::Entry& entry, const uint8_t* data, size_t size)
{
    if (entry.method == kStored)
        return size == entry.size && libdeflate_crc32(0, data, size) == entry.crc ? std::nullopt : wrongSize(entry);
    if (!m_wholeInflater)
        return "the decompressor cannot start: " + m_path;
    const size_t expected = static_cast<size_t>(entry.size);
    if (m_output.size() < expected)
        m_output.resize(expected);
    size_t used = 0;
    size_t produced = 0;
    const libdeflate_result result
        = libdeflate_deflate_decompress_ex(m_wholeInflater, data, size, m_output.data(), expected, &used, &produced);
    if (result == LIBDEFLATE_INSUFFICIENT_SPACE)
        return wrongSize(entry);
    // Data after the end of the deflate stream is as damaged as data that
    // does not inflate.
    if (result != LIBDEFLATE_SUCCESS || used != size)
        return damaged(entry);
    if (produced != expected || libdeflate_crc32(0, m_output.data(), produced) != entry.crc)
        return wrongSize(entry);
    return std::nullopt;
}

const uint8_t* EntryCheck::plain(std::optional<ZipDecryptor>& decryptor, std::span<const uint8_t> piece)
{
    if (!decryptor)
        return piece.data();
    m_plain.assign(piece.begin(), piece.end());
    decryptor->decrypt(m_plain.data(), m_plain.size());
    return m_plain.data();
}

bool EntryCheck::take(const ZipDirectory::Entry& entry, const uint8_t* data, size_t size)
{
    if (entry.method == kStored) {
        m_crc = libdeflate_crc32(m_crc, data, size);
        m_produced += size;
        return true;
    }
    if (m_streamEnded) // data after the end of the deflate stream
        return false;
    m_inflater.next_in = const_cast<Bytef*>(data);
    m_inflater.avail_in = static_cast<uInt>(size);
    do {
        m_inflater.next_out = m_output.data();
        m_inflater.avail_out = static_cast<uInt>(m_output.size());
        const int result = inflate(&m_inflater, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
            return false;
        const size_t produced = m_output.size() - m_inflater.avail_out;
        m_crc = libdeflate_crc32(m_crc, m_output.data(), produced);
        m_produced += produced;
        if (m_produced > entry.size)
            return false;
        if (result == Z_STREAM_END) {
            m_streamEnded = true;
            return m_inflater.avail_in == 0;
        }
    } while (m_inflater.avail_out == 0);
    return true;
}

std::span<const uint8_t> EntryCheck::bytesAt(uint64_t at, size_t want, size_t reach)
{
    want = std::min(want, kBufferSize);
    const bool inBuffer = at >= m_bufferAt && at - m_bufferAt + want <= m_bufferSize;
    if (!inBuffer) {
        const size_t read = want <= reach ? reach : want <= kSmallRead ? kSmallRead : kBufferSize;
        ssize_t got = -1;
        do
            got = ::pread(m_fd, m_buffer.get(), read, static_cast<off_t>(at));
        while (got < 0 && errno == EINTR);
        m_bufferAt = at;
        m_bufferSize = got > 0 ? static_cast<size_t>(got) : 0;
    }
    const size_t offset = static_cast<size_t>(at - m_bufferAt);
    return {m_buffer.get() + offset, std::min(want, m_bufferSize - offset)};
}

Failure EntryCheck::broken(const ZipDirectory::Entry& entry, const std::string& what) const
{
    return kEntry + entry.name + kNotReadable + what + "): " + m_path;
}

Failure EntryCheck::damaged(const ZipDirectory::Entry& entry) const
{
    return kEntry + entry.name + (m_password ? kDamaged : kDamagedPlain) + m_path;
}

Failure EntryCheck::wrongSize(const ZipDirectory::Entry& entry) const
{
    return kEntry + entry.name + kWrongSize + m_path;
}

#pragma once

#include "Failure.h"
#include "FollowedArchive.h"
#include "ZipDecryptor.h"
#include "ZipDirectory.h"

#include <libdeflate.h>
#include <zlib.h>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Reads entries of an open archive back, one after the other: the local
// header agrees with the central one, and the data (decrypted with the
// password when the entry is encrypted) inflates to the size and checksum
// the directory gives. Entries taken in the order of their offsets are read
// through one buffer, a read of 64 KiB for many small files, of 1 MiB
// where an entry wants more, of 4 KiB for the header of an entry whose data
// is large (that data was read as the archive was written, or is read by
// reads of its own). An entry whose
// data lies whole in that buffer and inflates to a few megabytes is inflated
// in one call with libdeflate, twice as fast as zlib on the small files most
// archives hold; larger ones stream through zlib in pieces. Small encrypted
// entries are held until a few megabytes of them are read, then decrypted
// side by side.
class EntryCheck {
public:
    // A failure about one entry is kEntry, the entry's name as stored, then
    // one of these, then the archive's path.
    static constexpr const char* kEntry = "entry ";
    static constexpr const char* kDamaged = " does not read back: its data is damaged, or the password does not open it: ";
    static constexpr const char* kDamagedPlain = " does not read back: its data is damaged: "; // no password
    static constexpr const char* kWrongSize = " does not read back: its checksum or size is wrong: ";
    static constexpr const char* kNotReadable = " is not readable (";
    static constexpr const char* kEncrypted = " is encrypted: ";
    // A large entry is read in pieces: stopped is asked between them, and
    // between entries.
    EntryCheck(int fd, const std::string& archivePath, const std::optional<std::string>& password,
               std::function<bool()> stopped);
    ~EntryCheck();
    EntryCheck(const EntryCheck&) = delete;
    EntryCheck& operator=(const EntryCheck&) = delete;

    // The first entry of entries, in their order, that is not sound. The
    // data of an entry read already while the archive was written (as
    // followed tells) is not inflated again; its local header is still
    // read.
    Failure checkAll(std::span<const ZipDirectory::Entry> entries, const FollowedArchive* followed = nullptr);
    // Checks the data of an entry that lies whole in data, not encrypted.
    Failure checkWhole(const ZipDirectory::Entry& entry, const uint8_t* data, size_t size);

private:
    // What a read for little reads: the headers of small entries one after
    // the other, without the whole buffer's worth of data between them. A
    // read for more fills the buffer, so that the entries after a large one
    // are there.
    static constexpr size_t kSmallRead = 64 << 10;

    // An encrypted entry read but not yet decrypted: its bytes, the
    // encryption header first, lie in m_held from at on.
    struct Held {
        const ZipDirectory::Entry* entry;
        size_t at;
        size_t size;
    };

    // Where the entry's data begins, after a local header that agrees with
    // the central one. nextHeaderAt: where the next entry to be read begins.
    Failure locate(const ZipDirectory::Entry& entry, uint64_t nextHeaderAt, uint64_t& dataAt);
    bool holds(const ZipDirectory::Entry& entry) const;
    Failure hold(const ZipDirectory::Entry& entry, uint64_t dataAt);
    // Decrypts and checks the entries held.
    Failure checkHeld();
    Failure checkData(const ZipDirectory::Entry& entry, uint64_t dataAt);
    // The piece as it reads without encryption.
    const uint8_t* plain(std::optional<ZipDecryptor>& decryptor, std::span<const uint8_t> piece);
    // Feeds one piece of the entry's data on; false when it is not sound.
    bool take(const ZipDirectory::Entry& entry, const uint8_t* data, size_t size);
    // Up to want bytes from offset at; fewer only at the end of the buffer's
    // reach, none at the end of the file or when the file cannot be read.
    // A read reads at least reach bytes (up to the buffer's size).
    std::span<const uint8_t> bytesAt(uint64_t at, size_t want, size_t reach = kSmallRead);
    Failure broken(const ZipDirectory::Entry& entry, const std::string& what) const;
    Failure damaged(const ZipDirectory::Entry& entry) const;
    Failure wrongSize(const ZipDirectory::Entry& entry) const;

    int m_fd;
    std::string m_path;
    std::function<bool()> m_stopped;
    std::optional<std::string> m_password;
    // Not cleared when made: a page of it is touched only when data is read
    // into it, and touching a page is what costs.
    std::unique_ptr<uint8_t[]> m_buffer;
    uint64_t m_bufferAt = 0;
    size_t m_bufferSize = 0;
    std::vector<uint8_t> m_plain;
    std::vector<Held> m_heldEntries;
    std::vector<uint8_t> m_held;
    std::vector<uint8_t> m_output;
    z_stream m_inflater{};
    bool m_inflaterReady = false;
    libdeflate_decompressor* m_wholeInflater = nullptr;
    // The entry being read.
    uint32_t m_crc = 0;
    uint64_t m_produced = 0;
    bool m_streamEnded = false;
};

#pragma once

#include "Failure.h"
#include "ZipDirectory.h"

#include <algorithm>
#include <cstdint>
#include <sys/types.h>
#include <vector>

// What was read of an archive while its writer wrote it: the file, and each
// entry whose data was found to inflate to the checksum and size its
// finished local header gave.
struct FollowedArchive {
    // A directory entry's place, method, checksum and sizes without its
    // name: an archive of 100,000 files holds as many of these.
    struct ReadEntry {
        uint64_t headerAt = 0;
        uint64_t dataAt = 0;
        uint64_t compressedSize = 0;
        uint64_t size = 0;
        uint32_t crc = 0;
        uint16_t method = 0;
    };

    dev_t device = 0;
    ino_t inode = 0;
    // Read encrypted, decrypted with the job's password: then only
    // encrypted entries were read, otherwise only plain ones.
    bool encrypted = false;
    std::vector<ReadEntry> entries; // in the order of their offsets
    // By the index of each staged file: true when it was found as staged
    // once the writer had read it whole.
    std::vector<bool> asked;
    // The first staged file found changed by then, as the change check
    // tells it.
    Failure change;

    // The entry read at the place the directory gives entry, with its
    // method, checksum and sizes; none when there is none.
    const ReadEntry* readAs(const ZipDirectory::Entry& entry) const
    {
        const auto found = std::lower_bound(entries.begin(), entries.end(), entry.localHeaderAt,
                                            [](const ReadEntry& read, uint64_t at) { return read.headerAt < at; });
        const bool same = found != entries.end() && found->headerAt == entry.localHeaderAt
            && found->compressedSize == entry.compressedSize && found->size == entry.size && found->crc == entry.crc
            && found->method == entry.method && ((entry.flags & ZipDirectory::kEncryptedFlag) != 0) == encrypted;
        return same ? &*found : nullptr;
    }

    // True when the entry, whose data begins at dataAt in the same file, is
    // one already read: its data need not be inflated again.
    bool hasRead(const ZipDirectory::Entry& entry, uint64_t dataAt) const
    {
        const ReadEntry* read = readAs(entry);
        return read && read->dataAt == dataAt;
    }
};

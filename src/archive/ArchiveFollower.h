#pragma once

#include "FollowedArchive.h"
#include "StagedContent.h"
#include "UniqueFd.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class EntryCheck;

// Reads the archive php is writing while it writes it, on the processor php
// leaves idle, so that the read-back of the finished archive has to inflate
// only what this did not reach.
//
// php writes under a temporary name beside the archive's own
// ("archive.zip.XXXXXX"), entry by entry: the local header as a placeholder
// (with no compression method), the data, then the header again with the
// data's checksum and sizes, and only then the next entry. An entry counts
// as read when its header names a method the writer uses, the next header
// (or the central directory) follows right after its data, and its data
// inflates to the checksum and size the header gives. Whatever is not sure
// (a header half rewritten, an entry too large to hold, damage) is left
// alone: the read-back checks every entry this did not read, and uses what
// it did read only where the finished archive's directory agrees with it.
//
// php reads each file whole before it writes the entry's finished header:
// the staged file of an entry read is asked then whether it is still the
// file staged, so that after php only the files not reached are asked.
//
// zipcloak, encrypting the archive, writes its copy as "zi" and six
// characters beside it, straight through: each local header already
// finished, then the entry's data, encrypted. With the job's password this
// follows that copy in the same way, decrypting before it inflates; the
// copy becomes the archive under its own name.
class ArchiveFollower {
public:
    // The archive will arrive in outputFolder as archiveName; content is
    // what was staged below outputFolder. Gives up when abandoned is set.
    // With a password, follows zipcloak's copy of the archive, not php.
    ArchiveFollower(std::string outputFolder, std::string archiveName, const StagedContent& content,
                    std::shared_ptr<std::atomic_bool> abandoned, std::optional<std::string> password = std::nullopt);
    ~ArchiveFollower();
    ArchiveFollower(const ArchiveFollower&) = delete;
    ArchiveFollower& operator=(const ArchiveFollower&) = delete;

    // Follows on a thread of its own, looking again every few milliseconds,
    // until finish().
    void start();
    // Stops following and gives what was read, the same to every caller;
    // nothing of a file never found.
    std::shared_ptr<const FollowedArchive> finish();

    // One look: finds the temporary file if it is not yet open and reads
    // every entry finished since the last look. True once there is nothing
    // more to read (the central directory is reached, or what follows cannot
    // be followed). Ends early once stop is requested. The follower's
    // thread calls it; a test may instead, before finish() and without
    // start().
    bool readMore(std::stop_token stop = {});

private:
    // An entry whose header is finished and whose data is written whole,
    // at in the buffer.
    struct Written {
        size_t at;
        size_t headerSize;
        ZipDirectory::Entry entry;
    };

    bool isWrittenName(std::string_view name) const;
    bool openWritten();
    // The entries written whole from the start of the buffer on, as far as
    // got reaches; largeFirst is set to the size of the first when that is
    // too large to hold.
    std::vector<Written> writtenIn(size_t got, uint64_t& largeFirst);
    // Decrypts their data, side by side, into m_plain; the data of each
    // then lies there in order, the encryption header first.
    void decryptAll(const std::vector<Written>& written);
    // Reads the finished entries that begin at m_next, as far as one
    // buffer reaches; false when there was none.
    bool readFinished(uint64_t fileSize);
    // Passes over an entry larger than the buffer once it is finished.
    bool passOverLarge(uint64_t entrySize);
    // Asks whether the staged file of the entry named name is as staged.
    void askAboutFile(std::string_view name);
    void follow(std::stop_token stop);

    std::string m_outputFolder;
    std::string m_archiveName;
    const StagedContent& m_content;
    std::shared_ptr<std::atomic_bool> m_abandoned;
    std::optional<std::string> m_password;
    UniqueFd m_file;
    UniqueFd m_folder;
    // Entry names and the staged files they are of, sorted by name.
    std::vector<std::pair<std::string_view, size_t>> m_fileOfEntry;
    std::shared_ptr<FollowedArchive> m_read = std::make_shared<FollowedArchive>();
    uint64_t m_next = 0;
    bool m_done = false;
    // Not cleared when made: only the pages data is read into are touched.
    std::unique_ptr<uint8_t[]> m_buffer;
    std::vector<uint8_t> m_plain;
    std::unique_ptr<EntryCheck> m_check;
    std::mutex m_mutex;
    std::mutex m_finishing;
    bool m_finished = false;
    std::condition_variable_any m_wake;
    std::jthread m_thread;
};

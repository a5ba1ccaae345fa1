#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

// The disk a folder takes (allocated blocks of everything below it,
// folders included), read over and over on a thread of its own while the
// object lives: its highest reading is the folder's peak. Files that come
// and go while a reading walks the tree are taken as they are found.
class DiskWatch {
public:
    explicit DiskWatch(const std::string& folder);
    ~DiskWatch();
    DiskWatch(const DiskWatch&) = delete;
    DiskWatch& operator=(const DiskWatch&) = delete;

    // Ends the readings and returns the highest, in bytes.
    uint64_t stop();

    // The disk below folder now, in bytes (0 when it does not exist).
    static uint64_t bytesBelow(const std::string& folder);

private:
    std::string m_folder;
    std::atomic<bool> m_stopping{false};
    std::atomic<uint64_t> m_peak{0};
    std::thread m_thread;
};

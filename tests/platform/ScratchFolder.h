#pragma once

#include <string>

// A fresh temporary folder, removed with everything in it at the end, even
// read-only folders and names that are not UTF-8 (which QTemporaryDir cannot
// remove).
class ScratchFolder {
public:
    // pattern ends in "XXXXXX", e.g. "/dev/shm/quillmere-test-XXXXXX".
    explicit ScratchFolder(const std::string& pattern = "/tmp/quillmere-test-XXXXXX");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool isValid() const { return !m_path.empty(); }
    // Absolute, without a trailing "/"; empty when the folder could not be made.
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

#pragma once

#include <string>

// A tmpfs mounted on a folder while the object lives, for trees that lie
// on another file system than the home folder. Mounting needs the right to
// (root, or CAP_SYS_ADMIN); without it the object says why.
class TmpfsMount {
public:
    explicit TmpfsMount(const std::string& folder);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return m_mounted; }
    // Why the mount failed; empty when it did not.
    const std::string& failure() const { return m_failure; }

private:
    std::string m_folder;
    bool m_mounted = false;
    std::string m_failure;
};

#pragma once

#include <string>
#include <vector>

// Small file systems of a test's own (a full disk, a disk with few inodes,
// another device than the home folder), mounted on folders that exist and
// all unmounted again when this goes or unmountAll() is called, whatever a
// failed check skipped. Mounting needs the privilege CI runs with; a test
// without it skips.
class TmpfsMounts {
public:
    TmpfsMounts() = default;
    ~TmpfsMounts();
    TmpfsMounts(const TmpfsMounts&) = delete;
    TmpfsMounts& operator=(const TmpfsMounts&) = delete;

    // Mounts a tmpfs with options ("size=1m,nr_inodes=90") on folder;
    // false when the system refuses.
    bool mount(const std::string& folder, const std::string& options);
    // The same with a file system of another kind ("ramfs").
    bool mountOfType(const std::string& folder, const std::string& type, const std::string& options = {});
    void unmountAll();

private:
    std::vector<std::string> m_folders;
};

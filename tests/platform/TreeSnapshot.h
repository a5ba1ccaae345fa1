#pragma once

#include <map>
#include <string>
#include <sys/stat.h>

// What lstat and a read tell about every item of a tree, keyed by the path
// relative to the tree's top ("" is the top itself). Used to prove that an
// operation left the user's items alone, and that a copy matches its
// original.
class TreeSnapshot {
public:
    struct Item {
        struct stat info {};
        std::string content;    // regular files
        std::string linkTarget; // symbolic links
    };

    explicit TreeSnapshot(const std::string& top);

    const std::map<std::string, Item>& items() const { return m_items; }

    // Empty when other shows the very same items (same inodes, modes,
    // modification times and data); otherwise the first difference found.
    // Link counts and change times may differ: hard-linking a file to the
    // staging tree is allowed.
    std::string unchangedIn(const TreeSnapshot& later) const;

    // Empty when copy holds every item of this tree with the same type,
    // data, link target, modification time and permissions (folders with
    // the owner's rwx added); otherwise the first difference found.
    std::string copiedTo(const TreeSnapshot& copy) const;

private:
    void add(const std::string& full, const std::string& relative);

    std::map<std::string, Item> m_items;
};

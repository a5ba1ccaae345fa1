#pragma once

#include "Failure.h"

#include <string>

// Removes a file, a link or a whole folder tree of any depth. It works
// through descriptors, one folder at a time, climbing back with ".." checked
// against the folder it came from: no full path is ever formed, so a tree
// deeper than the system's longest path goes as well as any other, and it
// holds two descriptors at most whatever the depth.
class TreeRemover {
public:
    // Removes name in the open folder parentFd; fails when nothing is there.
    // Folders that refuse their owner are opened up first; files keep their
    // permissions (they may be hard links to the user's own files). Goes on
    // past what cannot be removed and tells the first failure.
    static Failure remove(int parentFd, const std::string& name, const std::string& pathForMessages);
};

#pragma once

#include "Failure.h"
#include "OpenFolder.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// File operations with the semantics the archive job relies on. Paths are
// byte strings; every failure comes back as a readable description that
// names the path concerned ("No such file or directory: /a/b").
class FileManager {
public:
    // True when anything, a dangling symbolic link included, is at path.
    static bool exists(const std::string& path);
    static bool isDirectory(const std::string& path);
    // The size of the file at path, links followed; 0 when there is none.
    static uint64_t sizeOf(const std::string& path);

    // The content of the file sourceName in sourceFolder, links followed,
    // placed as targetName in targetFolder: a hard link where the file
    // system allows one, otherwise a copy with the file's permissions and
    // times. Fails when something is at the target.
    static Failure linkOrCopyFile(const OpenFolder& sourceFolder, const std::string& sourceName,
                                  const OpenFolder& targetFolder, const std::string& targetName);

    // Moves an item; fails when something already exists at target. A
    // file also moves across file systems, copied with its permissions and
    // times and then removed.
    static Failure moveItem(const std::string& source, const std::string& target);

    // Removes a file, a link or a folder with all its contents; fails when
    // nothing is at path.
    static Failure removeItem(const std::string& path);

    // Creates a folder and any missing folders above it.
    static Failure createDirectory(const std::string& path, unsigned mode = 0777);

    // The home folder from $HOME, without a trailing "/".
    static std::string homeDirectory();
};

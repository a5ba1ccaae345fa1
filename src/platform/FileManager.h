#pragma once

#include "Failure.h"
#include "OpenFolder.h"

#include <cstdint>
#include <functional>
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
    // The first kSmallFileBytes of a small file (a /proc file, a few lines
    // of settings); empty when it cannot be read. A folder, or a process
    // that ends while its /proc file is read, is no exception here.
    static constexpr size_t kSmallFileBytes = 1024;
    static std::string readSmallFile(const std::string& path);

    // Why a copy failed, and on which side: the source is the user's file,
    // the target lies in the application's own folder.
    struct CopyFailure {
        std::string description;
        bool atTarget = false;
        int error = 0; // the system's error number
    };

    // How a file was placed by linkOrCopyFile.
    enum class Placement {
        HardLink,     // the user's file itself, under a second name
        SymbolicLink, // a link to the user's file by its absolute path
        Copy,         // a copy of its data, permissions and times
    };
    struct Placed {
        std::optional<CopyFailure> failure; // nothing when it was placed
        Placement placement = Placement::HardLink;
    };

    // The content of the file sourceName in sourceFolder, links followed,
    // placed as targetName in targetFolder: a hard link where the file
    // system allows one; where it cannot (another file system, one without
    // hard links, a file with too many links, a file protected from them) a
    // symbolic link to the file's absolute path as reached; a copy only when
    // neither can stand for it (a path too long for a link, a work folder
    // that takes no links). Fails when something is at the target. A copy
    // asks stop as it goes and gives up when it says so. linkText,
    // when given, says what the symbolic link is to hold instead of the
    // absolute path (a shorter way to the same file); it is asked only when
    // a symbolic link is made, and an empty answer keeps the absolute path.
    static Placed linkOrCopyFile(const OpenFolder& sourceFolder, const std::string& sourceName,
                                 const OpenFolder& targetFolder, const std::string& targetName,
                                 const std::function<bool()>& stop = {},
                                 const std::function<std::string()>& linkText = {});
    // True when a hard link from the file system where the source lies to
    // that of the target failed with error for want of what links need,
    // so that a symbolic link or a copy may stand in.
    static bool hardLinkImpossible(int error);
    // True when sync_file_range failed with error because the file system
    // cannot write out a range by itself; fsync then does it all.
    static bool rangeWriteOutUnsupported(int error);

    // Asked as a copy goes on, with the bytes copied so far; true stops it.
    using CopyStop = std::function<bool(uint64_t copied)>;

    // Moves an item; fails when something already exists at target. A
    // file also moves across file systems, copied with its permissions and
    // times and then removed. Such a copy asks stop as it goes, and waits
    // for the other disk every few megabytes, so that stop is told how far
    // the disk has got; when stop says so, the half-made copy goes, the
    // source stays, and the move fails with "Operation canceled".
    static Failure moveItem(const std::string& source, const std::string& target, const CopyStop& stop = {});

    // Removes a file, a link or a folder with all its contents, at any
    // depth; fails when nothing is at path.
    static Failure removeItem(const std::string& path);

    // Creates a folder and any missing folders above it.
    // systemError, when given, receives the errno of a failure.
    static Failure createDirectory(const std::string& path, unsigned mode = 0777, int* systemError = nullptr);

    // The home folder from $HOME, without a trailing "/".
    static std::string homeDirectory();
};

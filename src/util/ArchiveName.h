#pragma once

#include <string>
#include <vector>

// The name an archive is delivered under, without ".zip" and without the
// number that keeps it apart from an archive already there.
class ArchiveName {
public:
    // Today's name, and the one used when the items give none.
    static constexpr const char* kDefault = "archive";

    // Named after the items (absolute paths, in the user's order): the
    // single item's name, a file's without its extension; for several, the
    // name of the folder that holds the first. The name is made one that
    // Windows can save and that is not hidden here; kDefault when nothing
    // usable is left (the root folder, a name of dots).
    static std::string forItems(const std::vector<std::string>& paths);

    // name made fit to be an archive's name: composed, without characters
    // that show nothing, no character Windows refuses, no control character, no byte that is not UTF-8, no leading dot, not
    // a device name, no trailing dot or blank, and short enough for a
    // number and ".zip" to follow within a file system's 255 bytes.
    static std::string fitted(const std::string& name);
};

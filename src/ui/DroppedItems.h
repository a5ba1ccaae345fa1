#pragma once

#include <optional>
#include <string>
#include <vector>

class QMimeData;

// Reads the dropped files and folders out of a drag's data.
class DroppedItems {
public:
    // True when the data carries at least one URL and every one names a
    // local item, as localPaths takes it: the only drags the window takes.
    static bool areLocalFiles(const QMimeData* data);

    // The local paths as bytes, in the order of the drag, each made
    // absolute as a path given on the command line is. Names that are not
    // valid UTF-8 arrive percent-encoded byte by byte and are kept exactly.
    // nullopt when the data holds no URL list or a URL that names no local
    // item (another host, an escaped NUL byte or "/"); an empty list when
    // the URL list is empty.
    static std::optional<std::vector<std::string>> localPaths(const QMimeData* data);
};

#pragma once

#include <optional>
#include <string>
#include <vector>

class QMimeData;
class QUrl;

// Reads the dropped files and folders out of a drag's data.
class DroppedItems {
public:
    // True when the data carries at least one URL and every one names a
    // local file: the only drags the window takes.
    static bool areLocalFiles(const QMimeData* data);

    // The local paths as bytes, in the order of the drag. nullopt when the
    // data holds no URL list or a URL that is not a local file; an empty
    // list when the URL list is empty.
    static std::optional<std::vector<std::string>> localPaths(const QMimeData* data);

    // The path of a file URL as the file system's bytes. Names that are not
    // valid UTF-8 arrive percent-encoded byte by byte and are kept exactly;
    // a decode through QString would replace them.
    static std::string pathBytes(const QUrl& url);
};

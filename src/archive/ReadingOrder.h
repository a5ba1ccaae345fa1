#pragma once

#include "StagedContent.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

// The files of the content folder in the order php's directory iterator
// meets them, which is the order it reads them in, each with how many
// bytes php has read once it is through with it: what the progress tells
// as the file being read.
class ReadingOrder {
public:
    // Sizes of files by their path below the content folder.
    using KnownSizes = std::unordered_map<std::string, uint64_t>;

    ReadingOrder() = default;
    // Walks contentFolder. A file whose size is known is not looked at: on
    // a large tree that is most of the walk's time. Once stop is set, what
    // was walked so far.
    static ReadingOrder of(const std::string& contentFolder, const KnownSizes& known = {},
                           const std::atomic_bool& stop = false);
    // The sizes of the files staged as links, as they were staged; once
    // stop is set, those taken so far.
    static KnownSizes sizesOf(const std::vector<StagedFile>& files, const std::atomic_bool& stop = false);

    bool empty() const { return m_pieces.empty(); }
    // The file php is reading once it has read bytesRead bytes, as a path
    // below the content folder; empty past the last.
    std::string itemAt(uint64_t bytesRead) const;

private:
    struct Piece {
        uint64_t readAfter = 0;
        std::string path;
    };
    std::vector<Piece> m_pieces;
};

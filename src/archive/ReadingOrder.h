#pragma once

#include "StagedContent.h"

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
    // a large tree that is most of the walk's time.
    static ReadingOrder of(const std::string& contentFolder, const KnownSizes& known = {});
    // The sizes of the files staged as links, as they were staged.
    static KnownSizes sizesOf(const std::vector<StagedFile>& files);

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

#include "ReadingOrder.h"

#include "WorkFolders.h"

#include <algorithm>
#include <filesystem>

ReadingOrder ReadingOrder::of(const std::string& contentFolder, const KnownSizes& known, const std::atomic_bool& stop)
{
    namespace fs = std::filesystem;
    ReadingOrder order;
    std::error_code error;
    uint64_t total = 0;
    // Both walk each folder in the order the file system lists it and go
    // into a folder where they meet it.
    for (auto it = fs::recursive_directory_iterator(contentFolder, fs::directory_options::skip_permission_denied, error);
         !error && !stop && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::string path = it->path().string();
        std::string inContent = path.substr(std::min(path.size(), contentFolder.size() + 1));
        const auto size = known.find(inContent);
        std::error_code ignored;
        if (size == known.end() && !it->is_regular_file(ignored))
            continue;
        // php looks for it in the path below the output folder, never in
        // the work folder's own path.
        if (inContent.find(".DS_Store") != std::string::npos)
            continue;
        total += size != known.end() ? size->second : it->file_size(ignored);
        order.m_pieces.push_back({total, std::move(inContent)});
    }
    return order;
}

ReadingOrder::KnownSizes ReadingOrder::sizesOf(const std::vector<StagedFile>& files, const std::atomic_bool& stop)
{
    const std::string content = std::string(WorkFolders::CONTENT_DIR_NAME) + "/";
    KnownSizes known;
    known.reserve(files.size());
    for (const StagedFile& file : files) {
        if (stop)
            break;
        if (file.path.starts_with(content))
            known.emplace(file.path.substr(content.size()), static_cast<uint64_t>(file.size));
    }
    return known;
}

std::string ReadingOrder::itemAt(uint64_t bytesRead) const
{
    const auto reading = std::upper_bound(m_pieces.begin(), m_pieces.end(), bytesRead,
                                          [](uint64_t read, const Piece& piece) { return read < piece.readAfter; });
    return reading == m_pieces.end() ? std::string() : reading->path;
}

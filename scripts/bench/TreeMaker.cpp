#include "TreeMaker.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace {

void writeFile(const std::filesystem::path& file, uint64_t size, TreeMaker::Content content, std::mt19937_64& random)
{
    static const char* const words[] = {"archive ", "名前 ", "window ", "ファイル ", "folder ", "data\n"};
    std::ofstream out(file, std::ios::binary);
    std::vector<char> block(1 << 16);
    for (uint64_t written = 0; written < size;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(block.size(), size - written));
        if (content == TreeMaker::Content::Random) {
            for (size_t i = 0; i + 8 <= chunk; i += 8) {
                const uint64_t value = random();
                std::memcpy(&block[i], &value, 8);
            }
        } else {
            size_t i = 0;
            while (i < chunk) {
                const char* word = words[random() % 6];
                for (; *word && i < chunk; ++word)
                    block[i++] = *word;
            }
        }
        out.write(block.data(), static_cast<std::streamsize>(chunk));
        written += chunk;
    }
}

} // namespace

void TreeMaker::make(const std::string& root, int count, uint64_t totalBytes, Content content, int depth, int fanOut)
{
    std::mt19937_64 random(42);
    const uint64_t each = count > 0 ? totalBytes / static_cast<uint64_t>(count) : 0;
    for (int i = 0; i < count; ++i) {
        std::filesystem::path folder = root;
        int index = i;
        for (int level = 0; level < depth; ++level) {
            folder /= "d" + std::to_string(index % fanOut);
            index /= fanOut;
        }
        std::filesystem::create_directories(folder);
        // Sizes vary around the mean, as real folders do.
        const uint64_t size = each / 2 + (each > 0 ? random() % each : 0);
        writeFile(folder / ("file" + std::to_string(i) + ".dat"), size, content, random);
    }
}

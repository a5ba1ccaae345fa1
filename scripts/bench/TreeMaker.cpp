#include "TreeMaker.h"

#include "TextCorpus.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

void fillRandom(std::vector<char>& block, size_t length, std::mt19937_64& random)
{
    for (size_t i = 0; i < length; i += 8) {
        const uint64_t value = random();
        std::memcpy(&block[i], &value, std::min<size_t>(8, length - i));
    }
}

uint64_t sizeBetween(uint64_t minBytes, uint64_t maxBytes, std::mt19937_64& random)
{
    return maxBytes > minBytes ? minBytes + random() % (maxBytes - minBytes + 1) : minBytes;
}

std::string numbered(const std::string& stem, int number, int width)
{
    std::string digits = std::to_string(number);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    return stem + digits;
}

} // namespace

void TreeMaker::makeFile(const std::string& path, uint64_t bytes, Content content, std::mt19937_64& random)
{
    const TextCorpus& text = TextCorpus::machine();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 20);
    size_t place = text.randomPlace(random);
    for (uint64_t written = 0; written < bytes;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(block.size(), bytes - written));
        if (content == Content::Random)
            fillRandom(block, chunk, random);
        else
            text.copy(place, block.data(), chunk);
        out.write(block.data(), static_cast<std::streamsize>(chunk));
        written += chunk;
    }
}

void TreeMaker::makeTree(const std::string& root, int files, int folders, uint64_t minBytes, uint64_t maxBytes,
                         Content content)
{
    std::mt19937_64 random(42);
    std::filesystem::create_directories(root);
    for (int i = 0; i < files; ++i) {
        std::string folder = root;
        if (folders > 0)
            folder += "/" + numbered("folder", i % folders, 3);
        std::filesystem::create_directories(folder);
        const char* extension = content == Content::Random ? ".bin" : ".txt";
        makeFile(folder + "/" + numbered("file", i, 5) + extension, sizeBetween(minBytes, maxBytes, random), content,
                 random);
    }
}

void TreeMaker::makeJapaneseTree(const std::string& root, int files, int folders, uint64_t meanBytes)
{
    // Composed and decomposed spellings of the same words, side by side.
    static const char* const composed[] = {"見積書", "ガイド", "データ", "パンフレット", "議事録", "ブログ",
                                           "写真", "café", "レポート", "予算"};
    static const char* const decomposed[] = {"見積書", "カ\u3099イト\u3099", "テ\u3099ータ",
                                             "ハ\u309Aンフレット", "議事録", "フ\u3099ロク\u3099",
                                             "写真", "cafe\u0301", "レホ\u309Aート", "予算"};
    const int words = 10;
    std::mt19937_64 random(43);
    std::filesystem::create_directories(root);
    for (int i = 0; i < files; ++i) {
        const int folderIndex = folders > 0 ? i % folders : 0;
        const char* const* folderWords = folderIndex % 2 ? decomposed : composed;
        const std::string folderName = std::string(folderWords[folderIndex % words]) + "_";
        const std::string folder = root + "/" + numbered(folderName, folderIndex, 2);
        std::filesystem::create_directories(folder);
        const char* const* fileWords = i % 2 ? decomposed : composed;
        const std::string name = numbered(std::string(fileWords[(i / 2) % words]) + "_", i, 4) + ".txt";
        makeFile(folder + "/" + name, sizeBetween(meanBytes / 2, meanBytes * 3 / 2, random), Content::Text,
                 random);
    }
    std::filesystem::create_directories(root + "/空のフォルダ");
}

#pragma once

#include <cstdint>
#include <random>
#include <string>

// Generates the trees the benchmark archives. Every tree is the same from
// run to run (fixed seeds), so figures of different builds compare.
class TreeMaker {
public:
    enum class Content {
        Random, // incompressible, like photos, videos and archives
        Text,   // real text of the machine (TextCorpus), a stretch of it per file
    };

    // files files spread evenly over folders folders directly below root
    // (none: all directly in root), each of a size between minBytes and
    // maxBytes.
    static void makeTree(const std::string& root, int files, int folders, uint64_t minBytes, uint64_t maxBytes,
                         Content content);

    // files text files with Japanese names in folders with Japanese names;
    // every second name is in decomposed form (a voiced kana as the kana and
    // a combining mark, an accented letter as the letter and its accent),
    // as names copied from a Mac are. One folder is left empty.
    static void makeJapaneseTree(const std::string& root, int files, int folders, uint64_t meanBytes);

    static void makeFile(const std::string& path, uint64_t bytes, Content content, std::mt19937_64& random);
};

#pragma once

#include <cstdint>
#include <string>

// Generates the trees the benchmark archives.
class TreeMaker {
public:
    enum class Content { Random, Text };

    // count files spread over folders of fanOut entries, nested depth deep,
    // together about totalBytes.
    static void make(const std::string& root, int count, uint64_t totalBytes, Content content, int depth = 2,
                     int fanOut = 40);
};

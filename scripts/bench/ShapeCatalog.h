#pragma once

#include "TreeMaker.h"

#include <cstdint>
#include <string>
#include <vector>

// One kind of item users archive, with the time it should take.
struct Shape {
    enum class Layout { Tree, JapaneseTree, OneFile };
    // What the job's time is held against.
    enum class Reference { Zip, Zip9, None };

    std::string key;   // the name --only takes
    std::string title; // the table's row
    Layout layout = Layout::Tree;
    TreeMaker::Content content = TreeMaker::Content::Random;
    int files = 1;
    int folders = 0;
    uint64_t minBytes = 0;
    uint64_t maxBytes = 0;
    Reference reference = Reference::None;
    double limit = 0;          // largest acceptable ratio job / reference; 0: none
    bool encryptedToo = false; // also time the encrypted job and zip -P
    double encryptedLimit = 0; // largest acceptable ratio encrypted / plain job; 0: none
    bool onTmpfs = false;      // the tree lies on a file system of its own, in memory
    // Largest acceptable disk the work folder takes at its peak beyond the
    // archive, in MiB; 0: not measured.
    double extraDiskLimitMegabytes = 0;
    bool memoryTarget = false; // the application's peak memory is judged here
};

// The shapes, at full size or (quick) small enough for a smoke test.
class ShapeCatalog {
public:
    static std::vector<Shape> all(bool quick);
    // The names --only takes, comma-separated, "single" included.
    static std::string keys();
    // Builds the shape's item in folder and returns the item's path.
    static std::string build(const Shape& shape, const std::string& folder);
};

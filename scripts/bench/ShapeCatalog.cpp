#include "ShapeCatalog.h"

#include <filesystem>

namespace {

const uint64_t KB = 1024;
const uint64_t MB = 1024 * KB;

Shape tree(std::string key, std::string title, TreeMaker::Content content, int files, int folders,
           uint64_t minBytes, uint64_t maxBytes)
{
    Shape shape;
    shape.key = std::move(key);
    shape.title = std::move(title);
    shape.content = content;
    shape.files = files;
    shape.folders = folders;
    shape.minBytes = minBytes;
    shape.maxBytes = maxBytes;
    return shape;
}

// Sizes that vary around the mean, as real folders' do.
uint64_t lowest(uint64_t total, int files) { return total / static_cast<uint64_t>(files) / 2; }
uint64_t highest(uint64_t total, int files) { return total / static_cast<uint64_t>(files) * 3 / 2; }

} // namespace

std::vector<Shape> ShapeCatalog::all(bool quick)
{
    using Content = TreeMaker::Content;
    const int divisor = quick ? 10 : 1;
    std::vector<Shape> shapes;

    const int randomFiles = 2000 / divisor;
    const uint64_t randomBytes = 150 * MB / divisor;
    Shape incompressible = tree("incompressible", std::to_string(randomFiles) + " files, "
                                    + std::to_string(randomBytes / MB) + " MB, incompressible",
                                Content::Random, randomFiles, 40, lowest(randomBytes, randomFiles),
                                highest(randomBytes, randomFiles));
    incompressible.reference = Shape::Reference::Zip;
    incompressible.limit = 1.1;
    incompressible.encryptedToo = true;
    shapes.push_back(incompressible);

    const int textFiles = 2000 / divisor;
    const uint64_t textBytes = 100 * MB / divisor;
    Shape text = tree("text", std::to_string(textFiles) + " files, " + std::to_string(textBytes / MB) + " MB, text",
                      Content::Text, textFiles, 40, lowest(textBytes, textFiles), highest(textBytes, textFiles));
    text.reference = Shape::Reference::Zip9;
    text.limit = 1.1;
    shapes.push_back(text);

    const int smallFiles = 20000 / divisor;
    const int smallFolders = 200 / divisor;
    Shape small = tree("small", std::to_string(smallFiles) + " files of 1-4 KB in " + std::to_string(smallFolders)
                           + " folders",
                       Content::Text, smallFiles, smallFolders, 1 * KB, 4 * KB);
    small.reference = Shape::Reference::Zip;
    small.limit = 1.3;
    shapes.push_back(small);

    const uint64_t largeBytes = quick ? 64 * MB : 1024 * MB;
    Shape large = tree("large", "one file of " + std::to_string(largeBytes / MB) + " MB, incompressible",
                       Content::Random, 1, 0, largeBytes, largeBytes);
    large.layout = Shape::Layout::OneFile;
    large.reference = Shape::Reference::Zip;
    large.limit = 0.9;
    large.memoryTarget = true;
    shapes.push_back(large);

    const int namedFiles = 2000 / divisor;
    Shape names = tree("names", std::to_string(namedFiles) + " files, Japanese and decomposed names", Content::Text,
                       namedFiles, 40 / (quick ? 4 : 1), 5 * KB, 15 * KB);
    names.layout = Shape::Layout::JapaneseTree;
    shapes.push_back(names);
    return shapes;
}

std::string ShapeCatalog::build(const Shape& shape, const std::string& folder)
{
    std::filesystem::create_directories(folder);
    switch (shape.layout) {
    case Shape::Layout::OneFile: {
        const char* name = shape.content == TreeMaker::Content::Random ? "video.bin" : "notes.txt";
        const std::string item = folder + "/" + name;
        std::mt19937_64 random(44);
        TreeMaker::makeFile(item, shape.minBytes, shape.content, random);
        return item;
    }
    case Shape::Layout::JapaneseTree: {
        const std::string item = folder + "/資料";
        TreeMaker::makeJapaneseTree(item, shape.files, shape.folders, (shape.minBytes + shape.maxBytes) / 2);
        return item;
    }
    case Shape::Layout::Tree:
        break;
    }
    const std::string item = folder + "/tree";
    TreeMaker::makeTree(item, shape.files, shape.folders, shape.minBytes, shape.maxBytes, shape.content);
    return item;
}

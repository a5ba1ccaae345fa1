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
    incompressible.limit = 0.9;
    incompressible.encryptedToo = true;
    incompressible.encryptedLimit = 1.3;
    shapes.push_back(incompressible);

    const int textFiles = 2000 / divisor;
    const uint64_t textBytes = 100 * MB / divisor;
    Shape text = tree("text", std::to_string(textFiles) + " files, " + std::to_string(textBytes / MB) + " MB, text",
                      Content::Text, textFiles, 40, lowest(textBytes, textFiles), highest(textBytes, textFiles));
    text.reference = Shape::Reference::Zip9;
    text.limit = 1.0;
    shapes.push_back(text);

    const int smallFiles = 20000 / divisor;
    const int smallFolders = 200 / divisor;
    const std::string smallTitle = std::to_string(smallFiles) + " files of 1-4 KB in " + std::to_string(smallFolders)
        + " folders";
    Shape small = tree("small", smallTitle, Content::Text, smallFiles, smallFolders, 1 * KB, 4 * KB);
    small.reference = Shape::Reference::Zip;
    small.limit = 1.2;
    shapes.push_back(small);

    // The same tree: judged on the encrypted job against the plain one.
    Shape smallEncrypted = small;
    smallEncrypted.key = "small-encrypted";
    smallEncrypted.title = smallTitle + ", encrypted";
    smallEncrypted.limit = 0;
    smallEncrypted.encryptedToo = true;
    smallEncrypted.encryptedLimit = 1.3;
    shapes.push_back(smallEncrypted);

    // The same tree on another file system than the home folder, as on a
    // USB stick or a network share: staging cannot hard-link there.
    Shape smallTmpfs = small;
    smallTmpfs.key = "small-tmpfs";
    smallTmpfs.title = smallTitle + ", on a tmpfs";
    smallTmpfs.limit = 1.6;
    smallTmpfs.onTmpfs = true;
    smallTmpfs.extraDiskLimitMegabytes = 5;
    shapes.push_back(smallTmpfs);

    const int thousandFiles = 1000 / divisor;
    Shape thousand = tree("thousand", std::to_string(thousandFiles) + " files of 1-4 KB in 10 folders",
                          Content::Text, thousandFiles, 10, 1 * KB, 4 * KB);
    thousand.reference = Shape::Reference::Zip;
    thousand.limit = 1.8;
    shapes.push_back(thousand);

    const int manyFiles = 100000 / divisor;
    const int manyFolders = 1000 / divisor;
    Shape many = tree("many", std::to_string(manyFiles) + " files of 1-4 KB in " + std::to_string(manyFolders)
                          + " folders",
                      Content::Text, manyFiles, manyFolders, 1 * KB, 4 * KB);
    many.reference = Shape::Reference::Zip;
    many.memoryTarget = true;
    shapes.push_back(many);

    const uint64_t largeBytes = quick ? 64 * MB : 1024 * MB;
    Shape large = tree("large", "one file of " + std::to_string(largeBytes / MB) + " MB, incompressible",
                       Content::Random, 1, 0, largeBytes, largeBytes);
    large.layout = Shape::Layout::OneFile;
    large.reference = Shape::Reference::Zip;
    large.limit = 0.95;
    large.memoryTarget = true;
    shapes.push_back(large);

    const int namedFiles = 2000 / divisor;
    Shape names = tree("names", std::to_string(namedFiles) + " files, Japanese and decomposed names", Content::Text,
                       namedFiles, 40 / (quick ? 4 : 1), 5 * KB, 15 * KB);
    names.layout = Shape::Layout::JapaneseTree;
    shapes.push_back(names);
    return shapes;
}

std::string ShapeCatalog::keys()
{
    std::string keys;
    for (const Shape& shape : all(false))
        keys += shape.key + ", ";
    return keys + "single";
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

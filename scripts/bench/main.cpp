// Benchmark of complete archive jobs against zip on the same trees. Not a
// test: run it by hand after a build and read the figures (see README.md
// beside this file).
//
//   build/quillmere-bench [--quick] [--runs N] [--only SHAPE,...]

#include "FileManager.h"
#include "JobTimer.h"
#include "PhpStartup.h"
#include "ReportTable.h"
#include "ShapeBench.h"
#include "ShapeCatalog.h"
#include "StaleRuns.h"
#include "TextCorpus.h"
#include "TmpfsMount.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>

namespace {

struct Options {
    bool quick = false;
    int runs = 0; // 0: the mode's default
    std::vector<std::string> only;
    bool help = false;
    std::string error;
};

const char* const kUsage = "usage: quillmere-bench [--quick] [--runs N] [--only SHAPE,...]\n";

std::vector<std::string> splitList(const std::string& text)
{
    std::vector<std::string> items;
    std::stringstream stream(text);
    for (std::string item; std::getline(stream, item, ',');) {
        if (!item.empty())
            items.push_back(item);
    }
    return items;
}

Options parse(int argc, char* argv[])
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--quick")
            options.quick = true;
        else if (argument == "--runs" && hasValue)
            options.runs = std::max(1, std::atoi(argv[++i]));
        else if (argument == "--only" && hasValue)
            options.only = splitList(argv[++i]);
        else if (argument == "--help" || argument == "-h")
            options.help = true;
        else
            options.error = "unknown or incomplete option: " + argument;
    }
    const std::string known = ", " + ShapeCatalog::keys() + ",";
    for (const std::string& key : options.only) {
        if (known.find(", " + key + ",") == std::string::npos)
            options.error = "unknown shape: " + key;
    }
    return options;
}

bool selected(const Options& options, const std::string& key)
{
    return options.only.empty() || std::find(options.only.begin(), options.only.end(), key) != options.only.end();
}

// The application and its programs see a home and a runtime folder of
// their own, made for this run, and no configuration folder of the user's.
void useTemporaryHome(const std::string& root)
{
    FileManager::createDirectory(root + "/home");
    FileManager::createDirectory(root + "/runtime", 0700);
    ::setenv("HOME", (root + "/home").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        ::unsetenv(name);
}

Series timeSingleFile(const JobTimer& timer, const std::string& root, int runs, LoadWatch& load)
{
    const std::string folder = root + "/single";
    FileManager::createDirectory(folder);
    const std::string item = folder + "/メモ.txt";
    QFile file(QFile::decodeName(item.c_str()));
    file.open(QIODevice::WriteOnly);
    file.write("a small note\n");
    file.close();
    Series series;
    for (int run = 0; run < runs; ++run) {
        const ProcessTimer::Result result = timer.runApplication(item, false);
        std::fprintf(stderr, "  single run %d/%d: %s\n", run + 1, runs,
                     result.ok ? (std::to_string(result.seconds) + " s").c_str() : result.failure.c_str());
        series.add(result);
        load.sample();
    }
    load.finish();
    FileManager::removeItem(folder);
    return series;
}

} // namespace

int main(int argc, char* argv[])
{
    const Options options = parse(argc, argv);
    if (options.help || !options.error.empty()) {
        if (!options.error.empty())
            std::fprintf(stderr, "%s\n", options.error.c_str());
        std::fputs(kUsage, options.help ? stdout : stderr);
        std::fprintf(options.help ? stdout : stderr, "shapes: %s\n", ShapeCatalog::keys().c_str());
        return options.help ? 0 : 2;
    }
    // The trees, the home folder and the archives share one file system, as
    // a user's files and home usually do.
    StaleRuns::removeIn(QFile::encodeName(QDir::tempPath()).toStdString());
    QTemporaryDir work(QDir::tempPath() + "/" + StaleRuns::kPrefix + "XXXXXX");
    if (!work.isValid()) {
        std::fprintf(stderr, "cannot create a work folder in %s\n", qPrintable(QDir::tempPath()));
        return 1;
    }
    const std::string root = QFile::encodeName(work.path()).toStdString();
    StaleRuns::own(root);
    useTemporaryHome(root);
    // A desktop session's runtime folder is a tmpfs: the application stages
    // links to files on other file systems there.
    const TmpfsMount runtime(root + "/runtime");
    QCoreApplication application(argc, argv);
    const std::string applicationPath =
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString() + "/quillmere";
    if (!FileManager::exists(applicationPath)) {
        std::fprintf(stderr, "%s is missing: build the application first\n", applicationPath.c_str());
        return 1;
    }
    const JobTimer timer(root, applicationPath);
    ReportTable::printLoad("at the start");
    const TextCorpus& corpus = TextCorpus::machine();
    if (corpus.empty()) {
        std::fprintf(stderr, "no text found in /usr/include or /usr/share/doc for the text files\n");
        return 1;
    }
    std::printf("Text files: stretches of %s.\n", corpus.description().c_str());
    std::printf("Runtime folder: %s.\n",
                runtime.mounted() ? "a tmpfs of its own, as in a desktop session" : runtime.failure().c_str());
    // As for every job of the application after its first on a machine.
    const bool writerExtensionsOnly = PhpStartup::ofCurrentUser().checkIfNew();
    std::printf("php: %s.\n", writerExtensionsOnly
                    ? "started with the writer's two extensions only (zip, iconv)"
                    : "started with the system's configuration (no php, no cache folder, or the check failed)");

    const int runs = options.runs > 0 ? options.runs : (options.quick ? 1 : 3);
    std::vector<ShapeFigures> figures;
    for (const Shape& shape : ShapeCatalog::all(options.quick)) {
        if (!selected(options, shape.key))
            continue;
        std::fprintf(stderr, "building %s\n", shape.title.c_str());
        const std::string folder = root + "/" + shape.key;
        std::optional<TmpfsMount> tmpfs;
        if (shape.onTmpfs && !tmpfs.emplace(folder).mounted()) {
            ShapeFigures skipped;
            skipped.shape = shape;
            skipped.skipped = tmpfs->failure();
            std::fprintf(stderr, "  skipped: %s\n", skipped.skipped.c_str());
            figures.push_back(skipped);
            continue;
        }
        const std::string item = ShapeCatalog::build(shape, folder);
        figures.push_back(ShapeBench::measure(timer, shape, item, runs, options.quick));
        if (tmpfs)
            FileManager::removeItem(item); // the mount point itself stays until the unmount
        else
            FileManager::removeItem(folder);
    }
    Series singleFile;
    LoadWatch singleLoad;
    if (selected(options, "single"))
        singleFile = timeSingleFile(timer, root, std::max(runs, options.quick ? 5 : ShapeBench::kShortShapeRuns),
                                    singleLoad);
    ReportTable::print(figures, singleFile, singleLoad, runs, options.quick);
    return 0;
}

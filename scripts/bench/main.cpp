// Benchmark of complete archive jobs against `zip -qr` of the same trees.
// Not a test: run it by hand after scripts/build and read the figures.
//
//   build/quillmere-bench [--quick] [--runs N] [--shapes small,large,text,deep]

#include "ConverterPath.h"
#include "FileManager.h"
#include "JobTimer.h"
#include "TreeMaker.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <vector>

namespace {

struct Shape {
    const char* name;
    const char* description;
    int files;
    uint64_t bytes;
    TreeMaker::Content content;
    int depth;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

long peakMemoryMegabytes()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

void measure(const std::string& tree, const Shape& shape, int runs, bool encrypt)
{
    std::vector<double> job;
    std::vector<double> zip;
    for (int run = 0; run < runs; ++run) {
        // Alternating, so that a change in the machine's load hits both.
        job.push_back(JobTimer::runJob(tree, encrypt));
        zip.push_back(JobTimer::runZip(tree, encrypt));
    }
    const double jobMedian = median(job);
    const double zipMedian = median(zip);
    std::printf("%-6s %-38s %-9s job %8.3f s   zip -qr %8.3f s   job/zip %5.2f\n", shape.name, shape.description,
                encrypt ? "encrypted" : "plain", jobMedian, zipMedian, jobMedian / zipMedian);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    ConverterPath::install(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
    int runs = 3;
    bool quick = false;
    std::string shapes = "small,large,text,deep";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--quick")
            quick = true;
        else if (argument == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (argument == "--shapes" && i + 1 < argc)
            shapes = argv[++i];
    }
    const uint64_t mb = 1024 * 1024;
    const uint64_t scale = quick ? 10 : 1;
    const std::vector<Shape> all = {
        {"small", "2,000 files, 150 MB, random and text", 2000, 150 * mb / scale, TreeMaker::Content::Random, 2},
        {"large", "4 files, 1 GB, random", 4, 1024 * mb / scale, TreeMaker::Content::Random, 0},
        {"text", "500 files, 100 MB, text", 500, 100 * mb / scale, TreeMaker::Content::Text, 2},
        {"deep", "1,000 files, 20 MB, 12 levels deep", 1000, 20 * mb / scale, TreeMaker::Content::Text, 12},
    };

    // The home folder and the trees share one file system, as a user's do.
    QTemporaryDir work(QDir::tempPath() + "/quillmere-bench-XXXXXX");
    const std::string root = QFile::encodeName(work.path()).toStdString();
    FileManager::createDirectory(root + "/home");
    ::setenv("HOME", (root + "/home").c_str(), 1);

    std::printf("Quillmere benchmark: medians of %d runs, job and zip alternating%s\n", runs,
                quick ? " (quick: trees a tenth of the size)" : "");
    for (const Shape& shape : all) {
        if (shapes.find(shape.name) == std::string::npos)
            continue;
        const std::string tree = root + "/" + shape.name + "/tree";
        TreeMaker::make(tree, shape.files, shape.bytes, shape.content, shape.depth,
                        shape.depth > 2 ? 2 : 40);
        measure(tree, shape, runs, false);
        measure(tree, shape, runs, true);
        FileManager::removeItem(root + "/" + shape.name);
    }

    const std::string single = root + "/single/note.txt";
    FileManager::createDirectory(root + "/single");
    QFile file(QString::fromStdString(single));
    file.open(QIODevice::WriteOnly);
    file.write("a small note\n");
    file.close();
    std::vector<double> latency;
    for (int run = 0; run < std::max(runs, 5); ++run)
        latency.push_back(JobTimer::runJob(single, false));
    std::printf("single small file: call to delivered archive %.3f s (median)\n", median(latency));
    std::printf("peak memory of this process: %ld MB\n", peakMemoryMegabytes());
    return 0;
}

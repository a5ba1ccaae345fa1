#include "ShapeBench.h"

#include "DiskWatch.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace {

struct Step {
    const char* name;
    std::function<ProcessTimer::Result()> run;
    Series* series;
};

void readWhole(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    }
}

} // namespace

void ShapeBench::warmCache(const std::string& item)
{
    if (!std::filesystem::is_directory(item)) {
        readWhole(item);
        return;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(item)) {
        if (entry.is_regular_file())
            readWhole(entry.path());
    }
}

ShapeFigures ShapeBench::measure(const JobTimer& timer, const Shape& shape, const std::string& item, int runs,
                                 bool quick)
{
    ShapeFigures figures;
    figures.shape = shape;
    std::vector<Step> steps = {
        {"application", [&] { return timer.runApplication(item, false); }, &figures.application},
        {"writer", [&] { return timer.runWriter(); }, &figures.writer},
        {"zip -qr", [&] { return timer.runZip(item, {"-qr"}); }, &figures.zip},
        {"zip -9 -qr", [&] { return timer.runZip(item, {"-9", "-qr"}); }, &figures.zip9},
    };
    if (shape.encryptedToo) {
        steps.push_back({"application, encrypted", [&] { return timer.runApplication(item, true); },
                         &figures.encrypted});
        steps.push_back({"zip -qr -P", [&] { return timer.runZip(item, {"-qr", "-P", JobTimer::kPassword}); },
                         &figures.zipEncrypted});
        steps.push_back({"encryption step", [&] { return timer.runEncryption(); }, &figures.encryption});
    }
    timer.stageForWriter(item);
    if (shape.encryptedToo)
        timer.prepareEncryption();
    warmCache(item);
    figures.load = LoadWatch();
    std::fprintf(stderr, "  %s: load average %.2f at the start\n", shape.key.c_str(), figures.load.atStart());
    for (int run = 0; run < runs; ++run) {
        double roundSeconds = 0;
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[(i + static_cast<size_t>(run)) % steps.size()];
            const ProcessTimer::Result result = step.run();
            figures.load.sample();
            std::fprintf(stderr, "  %s run %d/%d, %s: %s\n", shape.key.c_str(), run + 1, runs, step.name,
                         result.ok ? (std::to_string(result.seconds) + " s").c_str() : result.failure.c_str());
            step.series->add(result);
            roundSeconds += result.seconds;
        }
        if (run == 0 && !quick && roundSeconds < kShortRoundSeconds && runs < kShortShapeRuns) {
            runs = kShortShapeRuns;
            std::fprintf(stderr, "  %s: a round takes %.2f s, so it runs %d rounds\n", shape.key.c_str(), roundSeconds,
                         runs);
        }
    }
    figures.runs = runs;
    figures.load.finish();
    std::fprintf(stderr, "  %s: load average %.2f at the end, %.2f at the highest\n", shape.key.c_str(),
                 figures.load.atEnd(), figures.load.highest());
    if (shape.extraDiskLimitMegabytes > 0)
        measureDisk(timer, item, figures);
    return figures;
}

// Apart from the timed runs: reading the work folder over and over costs
// time of its own.
void ShapeBench::measureDisk(const JobTimer& timer, const std::string& item, ShapeFigures& figures)
{
    const std::string work = timer.applicationWorkFolder();
    const uint64_t before = DiskWatch::bytesBelow(work);
    DiskWatch watch(work);
    const ProcessTimer::Result result = timer.runApplication(item, false, &figures.archiveBytes);
    const uint64_t peak = watch.stop();
    figures.workFolderPeakBytes = peak > before ? peak - before : 0;
    std::fprintf(stderr, "  %s, disk run: %s, work folder peak %.1f MB, archive %.1f MB\n",
                 figures.shape.key.c_str(), result.ok ? "delivered" : result.failure.c_str(),
                 static_cast<double>(figures.workFolderPeakBytes) / (1 << 20),
                 static_cast<double>(figures.archiveBytes) / (1 << 20));
    if (!result.ok)
        figures.archiveBytes = 0;
}

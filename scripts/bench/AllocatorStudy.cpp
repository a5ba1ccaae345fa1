#include "AllocatorStudy.h"

#include "FileManager.h"
#include "Series.h"
#include "ShapeBench.h"
#include "ShapeCatalog.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::vector<std::string> environmentFor(const std::string& variant)
{
    if (variant.empty())
        return {};
    return {"GLIBC_TUNABLES=" + variant};
}

std::string label(const std::string& variant)
{
    return variant.empty() ? "(glibc's defaults)" : variant;
}

bool sameBytes(const std::string& first, const std::string& second)
{
    std::ifstream a(first, std::ios::binary);
    std::ifstream b(second, std::ios::binary);
    if (!a || !b)
        return false;
    return std::equal(std::istreambuf_iterator<char>(a), std::istreambuf_iterator<char>(),
                      std::istreambuf_iterator<char>(b), std::istreambuf_iterator<char>());
}

const Shape* findShape(const std::vector<Shape>& shapes, const std::string& key)
{
    for (const Shape& shape : shapes) {
        if (shape.key == key)
            return &shape;
    }
    return nullptr;
}

void printHeader(const char* what)
{
    std::printf("%-76s %8s %8s %8s %8s  %s\n", what, "wall s", "user s", "sys s", "peak MB", "archive");
}

void printRow(const std::string& variant, const Series& series, const std::string& archiveNote)
{
    if (series.empty()) {
        std::printf("%-76s failed: %s\n", label(variant).c_str(), series.firstFailure().c_str());
        return;
    }
    std::printf("%-76s %8.2f %8.2f %8.2f %8.0f  %s\n", label(variant).c_str(), series.medianSeconds(),
                series.medianUserSeconds(), series.medianSystemSeconds(), series.peakWithChildrenMegabytes(),
                archiveNote.c_str());
    std::fflush(stdout);
}

} // namespace

std::vector<std::string> AllocatorStudy::defaultVariants()
{
    return {
        "",
        "glibc.malloc.top_pad=67108864",
        "glibc.malloc.top_pad=16777216",
        "glibc.malloc.top_pad=4194304",
        "glibc.malloc.trim_threshold=67108864",
        "glibc.malloc.mmap_threshold=33554432",
        "glibc.malloc.mmap_threshold=33554432:glibc.malloc.trim_threshold=67108864",
        "glibc.malloc.arena_max=1",
        "glibc.malloc.top_pad=67108864:glibc.malloc.arena_max=1",
    };
}

void AllocatorStudy::run(const JobTimer& timer, const std::string& root, bool quick, int runs,
                         const std::vector<std::string>& variants, const std::vector<std::string>& shapeKeys)
{
    const std::vector<Shape> shapes = ShapeCatalog::all(quick);
    std::printf("Allocator settings for the writer and the encryption script: medians of %d interleaved runs\n",
                runs);
    for (const std::string& key : shapeKeys) {
        const Shape* shape = findShape(shapes, key);
        if (!shape) {
            std::printf("no shape named %s\n", key.c_str());
            continue;
        }
        std::fprintf(stderr, "building %s\n", shape->title.c_str());
        const std::string item = ShapeCatalog::build(*shape, root + "/" + shape->key);
        timer.stageForWriter(item);
        ShapeBench::warmCache(item);
        studyWriter(timer, root, shape->title, runs, variants);
        if (shape->key == "incompressible")
            studyEncryption(timer, root, shape->title, runs, variants);
        FileManager::removeItem(root + "/" + shape->key);
    }
}

void AllocatorStudy::studyWriter(const JobTimer& timer, const std::string& root, const std::string& title,
                                 int runs, const std::vector<std::string>& variants)
{
    // The archive written with glibc's defaults is the one every other
    // setting must write again, byte for byte.
    const std::string baseline = root + "/baseline.zip";
    if (!timer.runWriter({}, true).ok)
        std::printf("the writer failed on %s\n", title.c_str());
    FileManager::removeItem(baseline);
    std::filesystem::copy_file(timer.writerArchivePath(), baseline);
    std::vector<Series> series(variants.size());
    std::vector<int> differing(variants.size(), 0);
    for (int run = 0; run < runs; ++run) {
        for (size_t i = 0; i < variants.size(); ++i) {
            const size_t index = (i + static_cast<size_t>(run)) % variants.size();
            const ProcessTimer::Result result = timer.runWriter(environmentFor(variants[index]), true);
            std::fprintf(stderr, "  writer run %d/%d, %s: %.2f s\n", run + 1, runs, label(variants[index]).c_str(),
                         result.seconds);
            series[index].add(result);
            if (result.ok && !sameBytes(baseline, timer.writerArchivePath()))
                ++differing[index];
        }
    }
    std::printf("\nphp's writer alone on the staged tree of %s (archive: %llu bytes)\n", title.c_str(),
                static_cast<unsigned long long>(std::filesystem::file_size(baseline)));
    printHeader("GLIBC_TUNABLES");
    for (size_t i = 0; i < variants.size(); ++i)
        printRow(variants[i], series[i],
                 differing[i] == 0 ? "same bytes as with the defaults"
                                   : std::to_string(differing[i]) + " run(s) wrote a DIFFERENT archive");
    FileManager::removeItem(timer.writerArchivePath());
}

void AllocatorStudy::studyEncryption(const JobTimer& timer, const std::string& root, const std::string& title,
                                     int runs, const std::vector<std::string>& variants)
{
    const std::string plain = root + "/baseline.zip";
    std::vector<Series> series(variants.size());
    for (int run = 0; run < runs; ++run) {
        for (size_t i = 0; i < variants.size(); ++i) {
            const size_t index = (i + static_cast<size_t>(run)) % variants.size();
            const ProcessTimer::Result result = timer.runEncryptScript(plain, environmentFor(variants[index]));
            std::fprintf(stderr, "  encryption run %d/%d, %s: %.2f s\n", run + 1, runs,
                         label(variants[index]).c_str(), result.seconds);
            series[index].add(result);
        }
    }
    std::printf("\nThe encryption script (expect, zipcloak, mv; it waits 2 s for the prompts) on the archive of %s\n",
                title.c_str());
    printHeader("GLIBC_TUNABLES");
    for (size_t i = 0; i < variants.size(); ++i)
        printRow(variants[i], series[i], "");
}

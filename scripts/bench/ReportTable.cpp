#include "ReportTable.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

const double kSingleFileLimitSeconds = 0.1;
const double kMemoryLimitMegabytes = 100;
const double kMegabyte = 1024.0 * 1024.0;

std::string format(const char* pattern, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string seconds(const Series& series)
{
    return series.empty() ? "-" : format("%.2f", series.medianSeconds());
}

// A ratio of -1 (no pair of runs) shows as "-".
std::string ratioText(double ratio)
{
    return ratio < 0 ? "-" : format("%.2f", ratio);
}

std::string loadText(const LoadWatch& load)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.2f -> %.2f (max %.2f)", load.atStart(), load.atEnd(), load.highest());
    return text;
}

// "yes" or "NO", marked when the machine was too busy to trust it; "-"
// when there is nothing to judge.
std::string verdict(bool known, bool met, const LoadWatch& load)
{
    if (!known)
        return "-";
    const std::string word = met ? "yes" : "NO";
    return load.reliable() ? word : word + ", unreliable";
}

std::string cpu(const Series& series)
{
    if (series.empty())
        return "-";
    char text[48];
    std::snprintf(text, sizeof text, "%.2f / %.2f", series.medianUserSeconds(), series.medianSystemSeconds());
    return text;
}

void reportFailures(const char* shape, const char* what, const Series& series)
{
    if (series.failures() > 0)
        std::printf("  %s, %s: %d run(s) failed, first: %s\n", shape, what, series.failures(),
                    series.firstFailure().c_str());
}

const Series* referenceOf(const ShapeFigures& figures)
{
    switch (figures.shape.reference) {
    case Shape::Reference::Zip:
        return &figures.zip;
    case Shape::Reference::Zip9:
        return &figures.zip9;
    case Shape::Reference::None:
        break;
    }
    return nullptr;
}

const char* const kRowFormat = "%-50s %7s %7s %7s %7s %7s %9s %9s  %-18s %-16s %s\n";

} // namespace

// A short shape runs more rounds than asked: the table says which.
void ReportTable::printRuns(const std::vector<ShapeFigures>& shapes, const Series& singleFile, int runs)
{
    std::string more;
    for (const ShapeFigures& figures : shapes) {
        if (figures.skipped.empty() && figures.runs != runs)
            more += (more.empty() ? "" : ", ") + figures.shape.key + " " + std::to_string(figures.runs);
    }
    const int singleRuns = singleFile.succeeded() + singleFile.failures();
    if (singleRuns > 0 && singleRuns != runs)
        more += (more.empty() ? "" : ", ") + std::string("single ") + std::to_string(singleRuns);
    if (!more.empty())
        std::printf("Short shapes ran more rounds, for steadier medians: %s.\n", more.c_str());
}

void ReportTable::print(const std::vector<ShapeFigures>& shapes, const Series& singleFile, const LoadWatch& singleLoad,
                        int runs, bool quick)
{
    std::printf("\nQuillmere benchmark%s: %d interleaved runs, warm file cache.\n",
                quick ? " (quick: small trees, a smoke test; the targets are for the full trees)" : "", runs);
    printRuns(shapes, singleFile, runs);
    printLoad("at the end");
    std::printf("app = the whole application process (quillmere --batch ITEM) from its start to the archive in\n"
                "place; writer = php's writer command alone on the same staged tree; seconds, medians.\n"
                "Ratios are paired: the median of the ratios of each run, whose programs ran side by side;\n"
                "cpu = the same of processor time (user + system, the app's including its programs).\n"
                "A verdict is unreliable when the load average exceeded %.1f during the shape.\n\n",
                LoadWatch::kReliableLimit);
    std::printf(kRowFormat, "Shape", "app", "writer", "zip", "zip -9", "app/zip", "app/zip-9", "cpu ratio", "target",
                "met", "load start -> end");
    for (const ShapeFigures& figures : shapes)
        printShapeRow(figures);
    if (!singleFile.empty() || singleFile.failures() > 0)
        printSingleFile(singleFile, singleLoad);
    for (const ShapeFigures& figures : shapes) {
        if (figures.skipped.empty() && figures.shape.encryptedToo)
            printEncrypted(figures);
    }
    for (const ShapeFigures& figures : shapes) {
        if (figures.skipped.empty() && figures.shape.extraDiskLimitMegabytes > 0)
            printDisk(figures);
    }
    for (const ShapeFigures& figures : shapes) {
        if (figures.skipped.empty() && figures.shape.memoryTarget)
            printMemory(figures);
    }
    printProcessorTime(shapes);
    printFailures(shapes, singleFile);
    std::fflush(stdout);
}

void ReportTable::printLoad(const char* when)
{
    std::printf("Load average of the machine %s: %s (%ld processors).\n", when,
                format("%.2f", LoadWatch::now()).c_str(), ::sysconf(_SC_NPROCESSORS_ONLN));
    std::fflush(stdout);
}

void ReportTable::printShapeRow(const ShapeFigures& figures)
{
    const Shape& shape = figures.shape;
    if (!figures.skipped.empty()) {
        std::printf("%-50s skipped: %s\n", shape.title.c_str(), figures.skipped.c_str());
        return;
    }
    const Series* reference = referenceOf(figures);
    // The processor time is held against the judged reference, zip otherwise.
    const Series& cpuReference = reference ? *reference : figures.zip;
    std::string target = "-";
    std::string met = "-";
    if (reference && shape.limit > 0) {
        target = format(reference == &figures.zip ? "app/zip <= %.2f" : "app/zip-9 <= %.2f", shape.limit);
        const double ratio = figures.application.pairedRatio(*reference);
        met = verdict(ratio >= 0, ratio <= shape.limit, figures.load);
    }
    std::printf(kRowFormat, shape.title.c_str(), seconds(figures.application).c_str(), seconds(figures.writer).c_str(),
                seconds(figures.zip).c_str(), seconds(figures.zip9).c_str(),
                ratioText(figures.application.pairedRatio(figures.zip)).c_str(),
                ratioText(figures.application.pairedRatio(figures.zip9)).c_str(),
                ratioText(figures.application.pairedProcessorRatio(cpuReference)).c_str(), target.c_str(),
                met.c_str(), loadText(figures.load).c_str());
}

void ReportTable::printSingleFile(const Series& singleFile, const LoadWatch& load)
{
    const std::string target = format("<= %.1f s", kSingleFileLimitSeconds);
    const bool known = !singleFile.empty();
    std::printf(kRowFormat, "one small file, start to archive in place", seconds(singleFile).c_str(), "", "", "", "",
                "", "", target.c_str(),
                verdict(known, known && singleFile.medianSeconds() <= kSingleFileLimitSeconds, load).c_str(),
                loadText(load).c_str());
}

void ReportTable::printEncrypted(const ShapeFigures& figures)
{
    const double ratio = figures.encrypted.pairedRatio(figures.application);
    std::string target = "-";
    std::string met = "-";
    if (figures.shape.encryptedLimit > 0) {
        target = format("<= %.2f", figures.shape.encryptedLimit);
        met = verdict(ratio >= 0, ratio <= figures.shape.encryptedLimit, figures.load);
    }
    std::printf("\nEncrypted job, %s: encrypted %s s, plain %s s; encrypted/plain %s (cpu %s), target %s: %s;\n"
                "  zip -qr -P %s s, encrypted app/zip -P %s\n",
                figures.shape.title.c_str(), seconds(figures.encrypted).c_str(), seconds(figures.application).c_str(),
                ratioText(ratio).c_str(), ratioText(figures.encrypted.pairedProcessorRatio(figures.application)).c_str(),
                target.c_str(), met.c_str(), seconds(figures.zipEncrypted).c_str(),
                ratioText(figures.encrypted.pairedRatio(figures.zipEncrypted)).c_str());
    // The writer and the encryption step run one after the other in every
    // encrypted job: together they are the least it can take here.
    const bool floorKnown = !figures.writer.empty() && !figures.encryption.empty() && !figures.application.empty();
    const double floor = floorKnown ? (figures.writer.medianSeconds() + figures.encryption.medianSeconds())
            / figures.application.medianSeconds()
                                    : -1;
    std::printf("  writer alone %s s + encryption step alone %s s = %s of the plain job: the least an encrypted job "
                "can take on this machine\n",
                seconds(figures.writer).c_str(), seconds(figures.encryption).c_str(), ratioText(floor).c_str());
}

void ReportTable::printDisk(const ShapeFigures& figures)
{
    const bool known = figures.archiveBytes > 0;
    const double extra = (static_cast<double>(figures.workFolderPeakBytes) - static_cast<double>(figures.archiveBytes))
        / kMegabyte;
    std::printf("\nDisk of the work folder, %s: peak %s MB, archive %s MB, beyond the archive %s MB, target <= %.0f "
                "MB: %s\n",
                figures.shape.title.c_str(), format("%.1f", figures.workFolderPeakBytes / kMegabyte).c_str(),
                known ? format("%.1f", figures.archiveBytes / kMegabyte).c_str() : "-",
                known ? format("%.1f", extra).c_str() : "-", figures.shape.extraDiskLimitMegabytes,
                verdict(known, extra <= figures.shape.extraDiskLimitMegabytes, figures.load).c_str());
}

void ReportTable::printMemory(const ShapeFigures& figures)
{
    const Series& runs = figures.application;
    const bool known = !runs.empty();
    std::printf("\nPeak memory of the application, %s: %s MB (with the programs it waited for: %s MB), "
                "target < %.0f MB: %s\n",
                figures.shape.title.c_str(), known ? format("%.0f", runs.peakOwnMegabytes()).c_str() : "-",
                known ? format("%.0f", runs.peakWithChildrenMegabytes()).c_str() : "-", kMemoryLimitMegabytes,
                verdict(known, runs.peakOwnMegabytes() < kMemoryLimitMegabytes, figures.load).c_str());
}

void ReportTable::printProcessorTime(const std::vector<ShapeFigures>& shapes)
{
    std::printf("\nProcessor time, user / system seconds (medians; the app's include the programs it ran):\n");
    std::printf("%-50s %-15s %-15s %-15s %-15s %s\n", "Shape", "app", "writer", "zip", "zip -9", "app peak MB");
    for (const ShapeFigures& figures : shapes) {
        if (!figures.skipped.empty())
            continue;
        const std::string peak =
            figures.application.empty() ? "-" : format("%.0f", figures.application.peakOwnMegabytes());
        std::printf("%-50s %-15s %-15s %-15s %-15s %s\n", figures.shape.title.c_str(),
                    cpu(figures.application).c_str(), cpu(figures.writer).c_str(), cpu(figures.zip).c_str(),
                    cpu(figures.zip9).c_str(), peak.c_str());
    }
}

void ReportTable::printFailures(const std::vector<ShapeFigures>& shapes, const Series& singleFile)
{
    bool any = singleFile.failures() > 0;
    for (const ShapeFigures& figures : shapes) {
        for (const Series* series : {&figures.application, &figures.writer, &figures.zip, &figures.zip9,
                                     &figures.encrypted, &figures.zipEncrypted, &figures.encryption})
            any = any || series->failures() > 0;
    }
    if (!any)
        return;
    std::printf("\nFailed runs (left out of the medians and ratios):\n");
    for (const ShapeFigures& figures : shapes) {
        const char* key = figures.shape.key.c_str();
        reportFailures(key, "app", figures.application);
        reportFailures(key, "writer", figures.writer);
        reportFailures(key, "zip", figures.zip);
        reportFailures(key, "zip -9", figures.zip9);
        reportFailures(key, "app encrypted", figures.encrypted);
        reportFailures(key, "zip -P", figures.zipEncrypted);
        reportFailures(key, "encryption step", figures.encryption);
    }
    reportFailures("single", "app", singleFile);
}

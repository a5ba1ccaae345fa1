#include "ReportTable.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const double kSingleFileLimitSeconds = 0.2;
const double kMemoryLimitMegabytes = 100;

std::string seconds(const Series& series)
{
    if (series.empty())
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", series.medianSeconds());
    return text;
}

std::string ratio(const Series& numerator, const Series& denominator)
{
    if (numerator.empty() || denominator.empty())
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", numerator.medianSeconds() / denominator.medianSeconds());
    return text;
}

// The machine's load over the last minute, from /proc/loadavg.
std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string oneMinute;
    file >> oneMinute;
    return oneMinute.empty() ? "unknown" : oneMinute;
}

std::string verdict(bool known, bool met)
{
    return known ? (met ? "yes" : "NO") : "-";
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

} // namespace

void ReportTable::print(const std::vector<ShapeFigures>& shapes, const Series& singleFile, int runs, bool quick)
{
    std::printf("\nQuillmere benchmark%s: medians of %d interleaved runs, warm file cache.\n",
                quick ? " (quick: small trees, a smoke test; the targets are for the full trees)" : "", runs);
    printLoad("at the end");
    std::printf("app = the whole application (build/quillmere, headless, item as argument) from its start to the\n"
                "archive in place; writer = php's writer command alone on the same staged tree; seconds.\n\n");
    std::printf("%-48s %7s %7s %7s %7s %8s %9s  %-17s %s\n", "Shape", "app", "writer", "zip", "zip -9", "app/zip",
                "app/zip-9", "target", "met");
    for (const ShapeFigures& figures : shapes)
        printShapeRow(figures);
    if (!singleFile.empty() || singleFile.failures() > 0)
        printSingleFile(singleFile);
    for (const ShapeFigures& figures : shapes) {
        if (figures.shape.memoryTarget)
            printMemory(figures);
    }
    for (const ShapeFigures& figures : shapes) {
        if (figures.shape.encryptedToo)
            printEncrypted(figures);
    }
    printProcessorTime(shapes);
    printFailures(shapes, singleFile);
    std::fflush(stdout);
}

void ReportTable::printLoad(const char* when)
{
    std::printf("Load average of the machine %s: %s (%ld processors).\n", when, loadAverage().c_str(),
                ::sysconf(_SC_NPROCESSORS_ONLN));
    std::fflush(stdout);
}

void ReportTable::printShapeRow(const ShapeFigures& figures)
{
    const Shape& shape = figures.shape;
    const Series* reference = shape.reference == Shape::Reference::Zip    ? &figures.zip
                              : shape.reference == Shape::Reference::Zip9 ? &figures.zip9
                                                                           : nullptr;
    std::string target = "-";
    std::string met = "-";
    if (reference) {
        char text[32];
        std::snprintf(text, sizeof text, "%s <= %.1f", reference == &figures.zip ? "app/zip" : "app/zip-9",
                      shape.limit);
        target = text;
        const bool known = !figures.application.empty() && !reference->empty();
        met = verdict(known, known && figures.application.medianSeconds() / reference->medianSeconds() <= shape.limit);
    }
    std::printf("%-48s %7s %7s %7s %7s %8s %9s  %-17s %s\n", shape.title.c_str(), seconds(figures.application).c_str(),
                seconds(figures.writer).c_str(), seconds(figures.zip).c_str(), seconds(figures.zip9).c_str(),
                ratio(figures.application, figures.zip).c_str(), ratio(figures.application, figures.zip9).c_str(),
                target.c_str(), met.c_str());
}

void ReportTable::printSingleFile(const Series& singleFile)
{
    char target[32];
    std::snprintf(target, sizeof target, "<= %.1f s", kSingleFileLimitSeconds);
    const bool known = !singleFile.empty();
    std::printf("%-48s %7s %7s %7s %7s %8s %9s  %-17s %s\n", "one small file, start to archive in place",
                seconds(singleFile).c_str(), "", "", "", "", "", target,
                verdict(known, known && singleFile.medianSeconds() <= kSingleFileLimitSeconds).c_str());
}

void ReportTable::printMemory(const ShapeFigures& figures)
{
    const Series& runs = figures.application;
    const bool known = !runs.empty();
    char value[96] = "-";
    if (known)
        std::snprintf(value, sizeof value, "%.0f MB (with the programs it waited for: %.0f MB)",
                      runs.peakOwnMegabytes(), runs.peakWithChildrenMegabytes());
    char target[32];
    std::snprintf(target, sizeof target, "< %.0f MB", kMemoryLimitMegabytes);
    const std::string title = "peak memory of the application, " + figures.shape.key + " shape";
    std::printf("%-48s %-58s  %-17s %s\n", title.c_str(), value, target,
                verdict(known, known && runs.peakOwnMegabytes() < kMemoryLimitMegabytes).c_str());
}

void ReportTable::printEncrypted(const ShapeFigures& figures)
{
    std::printf("\nEncrypted job on %s: encrypted %s s, plain %s s, encrypted/plain %s; zip -qr -P %s s, "
                "encrypted app/zip -P %s\n",
                figures.shape.title.c_str(), seconds(figures.encrypted).c_str(), seconds(figures.application).c_str(),
                ratio(figures.encrypted, figures.application).c_str(), seconds(figures.zipEncrypted).c_str(),
                ratio(figures.encrypted, figures.zipEncrypted).c_str());
}

void ReportTable::printProcessorTime(const std::vector<ShapeFigures>& shapes)
{
    // Processor time moves less than wall time on a busy machine: its ratio
    // tells whether a change in the ratios above is the program's or the
    // machine's.
    std::printf("\nProcessor time, user / system seconds (medians; the app's include the programs it ran):\n");
    std::printf("%-48s %-15s %-15s %-15s %-15s %-12s %s\n", "Shape", "app", "writer", "zip", "zip -9", "cpu app/zip",
                "app peak MB");
    for (const ShapeFigures& figures : shapes) {
        char peak[32] = "-";
        if (!figures.application.empty())
            std::snprintf(peak, sizeof peak, "%.0f", figures.application.peakOwnMegabytes());
        char cpuRatio[32] = "-";
        if (!figures.application.empty() && !figures.zip.empty())
            std::snprintf(cpuRatio, sizeof cpuRatio, "%.2f",
                          (figures.application.medianUserSeconds() + figures.application.medianSystemSeconds())
                              / (figures.zip.medianUserSeconds() + figures.zip.medianSystemSeconds()));
        std::printf("%-48s %-15s %-15s %-15s %-15s %-12s %s\n", figures.shape.title.c_str(),
                    cpu(figures.application).c_str(), cpu(figures.writer).c_str(), cpu(figures.zip).c_str(),
                    cpu(figures.zip9).c_str(), cpuRatio, peak);
    }
}

void ReportTable::printFailures(const std::vector<ShapeFigures>& shapes, const Series& singleFile)
{
    bool any = singleFile.failures() > 0;
    for (const ShapeFigures& figures : shapes) {
        for (const Series* series : {&figures.application, &figures.writer, &figures.zip, &figures.zip9,
                                     &figures.encrypted, &figures.zipEncrypted})
            any = any || series->failures() > 0;
    }
    if (!any)
        return;
    std::printf("\nFailed runs (left out of the medians):\n");
    for (const ShapeFigures& figures : shapes) {
        const char* key = figures.shape.key.c_str();
        reportFailures(key, "app", figures.application);
        reportFailures(key, "writer", figures.writer);
        reportFailures(key, "zip", figures.zip);
        reportFailures(key, "zip -9", figures.zip9);
        reportFailures(key, "app encrypted", figures.encrypted);
        reportFailures(key, "zip -P", figures.zipEncrypted);
    }
    reportFailures("single", "app", singleFile);
}

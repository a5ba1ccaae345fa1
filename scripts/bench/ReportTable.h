#pragma once

#include "LoadWatch.h"
#include "Series.h"
#include "ShapeBench.h"

#include <vector>

// Prints the benchmark's figures: one row per shape with the paired ratios,
// the processor-time ratio and the target beside them and the load during
// the shape, then the one-small-file time, the encrypted jobs, the disk of
// the work folder and the peak memory, then where the processor time went.
// A verdict reached while the load was above LoadWatch::kReliableLimit is
// marked unreliable.
class ReportTable {
public:
    static void print(const std::vector<ShapeFigures>& shapes, const Series& singleFile, const LoadWatch& singleLoad,
                      int runs, bool quick);

    // The machine's load: the figures of a busy machine are slower and noisier.
    static void printLoad(const char* when);

private:
    static void printRuns(const std::vector<ShapeFigures>& shapes, const Series& singleFile, int runs);
    static void printShapeRow(const ShapeFigures& figures);
    static void printSingleFile(const Series& singleFile, const LoadWatch& load);
    static void printEncrypted(const ShapeFigures& figures);
    static void printDisk(const ShapeFigures& figures);
    static void printMemory(const ShapeFigures& figures);
    static void printProcessorTime(const std::vector<ShapeFigures>& shapes);
    static void printFailures(const std::vector<ShapeFigures>& shapes, const Series& singleFile);
};

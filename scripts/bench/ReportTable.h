#pragma once

#include "Series.h"
#include "ShapeBench.h"

#include <vector>

// Prints the benchmark's figures: one row per shape with the ratios and the
// target beside them, then the one-small-file time, the peak memory and the
// encrypted job, then where the processor time went.
class ReportTable {
public:
    static void print(const std::vector<ShapeFigures>& shapes, const Series& singleFile, int runs, bool quick);

    // The machine's load: the figures of a busy machine are slower and noisier.
    static void printLoad(const char* when);

private:
    static void printShapeRow(const ShapeFigures& figures);
    static void printSingleFile(const Series& singleFile);
    static void printMemory(const ShapeFigures& figures);
    static void printEncrypted(const ShapeFigures& figures);
    static void printProcessorTime(const std::vector<ShapeFigures>& shapes);
    static void printFailures(const std::vector<ShapeFigures>& shapes, const Series& singleFile);
};

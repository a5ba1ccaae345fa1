#pragma once

#include "JobTimer.h"
#include "LoadWatch.h"
#include "Series.h"
#include "ShapeCatalog.h"

#include <cstdint>
#include <string>

// Everything measured on one shape.
struct ShapeFigures {
    Shape shape;
    std::string skipped; // why the shape was not measured; empty when it was
    Series application;  // the whole application, plain job
    Series writer;       // php's writer alone on the staged tree
    Series zip;          // zip -qr
    Series zip9;         // zip -9 -qr
    Series encrypted;    // the whole application, encrypted job
    Series zipEncrypted; // zip -qr -P
    Series encryption;   // the encryption step alone on the writer's archive
    LoadWatch load;
    int runs = 0; // the rounds it was measured in
    // The work folder's peak disk during one more plain job, and the
    // archive that job made, in bytes (shapes with a disk target).
    uint64_t workFolderPeakBytes = 0;
    uint64_t archiveBytes = 0;
};

// Runs the measurements of one shape, interleaved: each run (a round) times
// every program once, in an order that turns from run to run, so that a
// change in the machine's load falls on all of them and the ratios of one
// round compare programs that ran side by side.
class ShapeBench {
public:
    // A shape whose first round takes less than kShortRoundSeconds in all
    // runs at least kShortShapeRuns rounds: a few milliseconds of the
    // machine's jitter move the ratio of a 0.15 s job by several hundredths,
    // and more rounds cost little there.
    static constexpr double kShortRoundSeconds = 2.0;
    static constexpr int kShortShapeRuns = 15;

    // runs: the rounds asked for; a short shape may run more (not in a
    // quick run, whose figures judge nothing).
    static ShapeFigures measure(const JobTimer& timer, const Shape& shape, const std::string& item, int runs,
                                bool quick);

    // Reads every file below item once, so that every program finds them in
    // the file cache.
    static void warmCache(const std::string& item);

private:
    static void measureDisk(const JobTimer& timer, const std::string& item, ShapeFigures& figures);
};

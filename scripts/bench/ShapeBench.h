#pragma once

#include "JobTimer.h"
#include "Series.h"
#include "ShapeCatalog.h"

#include <string>

// Everything measured on one shape.
struct ShapeFigures {
    Shape shape;
    Series application; // the whole application, plain job
    Series writer;      // php's writer alone on the staged tree
    Series zip;         // zip -qr
    Series zip9;        // zip -9 -qr
    Series encrypted;   // the whole application, encrypted job
    Series zipEncrypted; // zip -qr -P
};

// Runs the measurements of one shape, interleaved: each run times every
// program once, in an order that turns from run to run, so that a change in
// the machine's load falls on all of them.
class ShapeBench {
public:
    static ShapeFigures measure(const JobTimer& timer, const Shape& shape, const std::string& item, int runs);

    // Reads every file below item once, so that every program finds them in
    // the file cache.
    static void warmCache(const std::string& item);
};

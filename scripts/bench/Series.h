#pragma once

#include "ProcessTimer.h"

#include <string>
#include <vector>

// The runs of one measurement, in the order they were made: run i of two
// series of the same shape ran in the same round, close together, so their
// ratio is what a change in the machine's load disturbs least. Failed runs
// keep their place and are left out of every figure; the first failure is
// shown.
class Series {
public:
    void add(const ProcessTimer::Result& result);

    bool empty() const { return succeeded() == 0; }
    int succeeded() const;
    int failures() const { return m_failures; }
    const std::string& firstFailure() const { return m_firstFailure; }

    double medianSeconds() const;
    double medianUserSeconds() const;
    double medianSystemSeconds() const;
    // The largest peak over the runs, in MiB.
    double peakOwnMegabytes() const;
    double peakWithChildrenMegabytes() const;

    // The median of the run-by-run ratios this / other over the runs where
    // both succeeded: of the wall time, and of the processor time (user and
    // system). -1 when no run pairs up.
    double pairedRatio(const Series& other) const;
    double pairedProcessorRatio(const Series& other) const;

private:
    template<typename Field>
    double pairedRatioOf(const Series& other, Field field) const;

    std::vector<ProcessTimer::Result> m_results;
    int m_failures = 0;
    std::string m_firstFailure;
};

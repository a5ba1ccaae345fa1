#pragma once

#include "ProcessTimer.h"

#include <string>
#include <vector>

// The runs of one measurement. Failed runs are kept apart: the figures are
// those of the runs that succeeded, and the first failure is shown.
class Series {
public:
    void add(const ProcessTimer::Result& result);

    bool empty() const { return m_results.empty(); }
    int failures() const { return m_failures; }
    const std::string& firstFailure() const { return m_firstFailure; }

    double medianSeconds() const;
    double medianUserSeconds() const;
    double medianSystemSeconds() const;
    // The largest peak over the runs, in MiB.
    double peakOwnMegabytes() const;
    double peakWithChildrenMegabytes() const;

private:
    std::vector<ProcessTimer::Result> m_results;
    int m_failures = 0;
    std::string m_firstFailure;
};

#include "Series.h"

#include <algorithm>

namespace {

double median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

template<typename Field>
double medianOf(const std::vector<ProcessTimer::Result>& results, Field field)
{
    std::vector<double> values;
    for (const ProcessTimer::Result& result : results) {
        if (result.ok)
            values.push_back(field(result));
    }
    return median(std::move(values));
}

double processorSeconds(const ProcessTimer::Result& result)
{
    return result.userSeconds + result.systemSeconds;
}

} // namespace

void Series::add(const ProcessTimer::Result& result)
{
    m_results.push_back(result);
    if (!result.ok && m_failures++ == 0)
        m_firstFailure = result.failure;
}

int Series::succeeded() const
{
    return static_cast<int>(std::count_if(m_results.begin(), m_results.end(),
                                          [](const ProcessTimer::Result& result) { return result.ok; }));
}

double Series::medianSeconds() const
{
    return medianOf(m_results, [](const ProcessTimer::Result& result) { return result.seconds; });
}

double Series::medianUserSeconds() const
{
    return medianOf(m_results, [](const ProcessTimer::Result& result) { return result.userSeconds; });
}

double Series::medianSystemSeconds() const
{
    return medianOf(m_results, [](const ProcessTimer::Result& result) { return result.systemSeconds; });
}

double Series::peakOwnMegabytes() const
{
    long peak = 0;
    for (const ProcessTimer::Result& result : m_results)
        peak = std::max(peak, result.ok ? result.peakOwnKb : 0);
    return static_cast<double>(peak) / 1024.0;
}

double Series::peakWithChildrenMegabytes() const
{
    long peak = 0;
    for (const ProcessTimer::Result& result : m_results)
        peak = std::max(peak, result.ok ? result.peakWithChildrenKb : 0);
    return static_cast<double>(peak) / 1024.0;
}

template<typename Field>
double Series::pairedRatioOf(const Series& other, Field field) const
{
    std::vector<double> ratios;
    for (size_t run = 0; run < std::min(m_results.size(), other.m_results.size()); ++run) {
        const ProcessTimer::Result& mine = m_results[run];
        const ProcessTimer::Result& theirs = other.m_results[run];
        if (mine.ok && theirs.ok && field(theirs) > 0)
            ratios.push_back(field(mine) / field(theirs));
    }
    return median(std::move(ratios));
}

double Series::pairedRatio(const Series& other) const
{
    return pairedRatioOf(other, [](const ProcessTimer::Result& result) { return result.seconds; });
}

double Series::pairedProcessorRatio(const Series& other) const
{
    return pairedRatioOf(other, processorSeconds);
}

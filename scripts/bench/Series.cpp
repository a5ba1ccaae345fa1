#include "Series.h"

#include <algorithm>

namespace {

template<typename Field>
double medianOf(const std::vector<ProcessTimer::Result>& results, Field field)
{
    if (results.empty())
        return -1;
    std::vector<double> values;
    for (const ProcessTimer::Result& result : results)
        values.push_back(field(result));
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

void Series::add(const ProcessTimer::Result& result)
{
    if (result.ok) {
        m_results.push_back(result);
        return;
    }
    if (m_failures++ == 0)
        m_firstFailure = result.failure;
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
        peak = std::max(peak, result.peakOwnKb);
    return static_cast<double>(peak) / 1024.0;
}

double Series::peakWithChildrenMegabytes() const
{
    long peak = 0;
    for (const ProcessTimer::Result& result : m_results)
        peak = std::max(peak, result.peakWithChildrenKb);
    return static_cast<double>(peak) / 1024.0;
}

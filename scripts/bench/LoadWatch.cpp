#include "LoadWatch.h"

#include <algorithm>
#include <fstream>

LoadWatch::LoadWatch()
    : m_start(now())
    , m_highest(m_start)
{
}

void LoadWatch::sample()
{
    m_highest = std::max(m_highest, now());
}

void LoadWatch::finish()
{
    m_end = now();
    m_highest = std::max(m_highest, m_end);
}

double LoadWatch::now()
{
    std::ifstream file("/proc/loadavg");
    double oneMinute = -1;
    file >> oneMinute;
    return file ? oneMinute : -1;
}

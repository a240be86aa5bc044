#include "latencystats.h"

#include <algorithm>
#include <cmath>

LatencyStats::LatencyStats(std::vector<double> samples) : m_sorted(std::move(samples))
{
    std::sort(m_sorted.begin(), m_sorted.end());
}

double LatencyStats::quantile(double q) const
{
    if (m_sorted.empty())
        return 0.0;
    const double rank = std::ceil(q * double(m_sorted.size()));
    const size_t index = size_t(std::clamp(rank, 1.0, double(m_sorted.size()))) - 1;
    return m_sorted[index];
}

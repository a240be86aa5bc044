// Order statistics of a series of durations in microseconds.
#ifndef LATENCYSTATS_H
#define LATENCYSTATS_H

#include <vector>

class LatencyStats
{
public:
    explicit LatencyStats(std::vector<double> samples);

    bool empty() const { return m_sorted.empty(); }
    // The smallest sample that at least fraction q of all samples do not exceed.
    double quantile(double q) const;
    double max() const { return m_sorted.empty() ? 0.0 : m_sorted.back(); }

private:
    std::vector<double> m_sorted;
};

#endif // LATENCYSTATS_H

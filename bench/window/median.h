// The median of a benchmark's timings (the mean of the middle two for an even count), 0 when
// there are none: the machines are shared, and single runs wander.
#ifndef KORVALE_BENCH_WINDOW_MEDIAN_H
#define KORVALE_BENCH_WINDOW_MEDIAN_H

#include <algorithm>
#include <vector>

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : (v[(v.size() - 1) / 2] + v[v.size() / 2]) / 2;
}

#endif

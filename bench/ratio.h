// A console reporter that keeps the median real and CPU time of every benchmark, so a
// benchmark program can print its ratio against the baseline it measured in the same run.
#ifndef KORVALE_BENCH_RATIO_H
#define KORVALE_BENCH_RATIO_H

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace benchratio {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      real[r.benchmark_name()] = r.GetAdjustedRealTime();
      cpu[r.benchmark_name()] = r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> real, cpu;
};

// The median of the repetitions of benchmark `name` (reported as "name/repeats:N_median"),
// or 0 when it did not run.
inline double Median(const std::map<std::string, double>& times, const std::string& name) {
  const std::string suffix = "_median";
  for (const auto& t : times)
    if (t.first.compare(0, name.size(), name) == 0 && t.first.size() > name.size() + suffix.size() &&
        (t.first[name.size()] == '/' || t.first[name.size()] == '_') &&
        t.first.compare(t.first.size() - suffix.size(), suffix.size(), suffix) == 0)
      return t.second;
  return 0;
}

// Prints "ratio (what, medians) measured / baseline = x.xx" and a note, when both ran.
inline void PrintRatio(const char* what, const std::map<std::string, double>& times,
                       const std::string& measured, const std::string& baseline, const char* note) {
  const double base = Median(times, baseline);
  const double value = Median(times, measured);
  if (base > 0 && value > 0)
    std::printf("ratio (%s, medians) %s / %s = %.2f (%s)\n", what, measured.c_str(), baseline.c_str(),
                value / base, note);
}

}  // namespace benchratio

#endif

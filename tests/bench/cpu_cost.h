// Host CPU time of whole /f runs on the simulated platform, measured with Google Benchmark, and
// the parts of it that are the simulation's rather than the tool's.
#pragma once

#include <vector>

#include "tests/bench/run_measure.h"

struct CpuCost {
  double runNs;     // one whole /f run: the tool, the host firmware and the bus and chip model
  double modelNs;   // the run's transactions replayed on the bus and chip model alone
  double consoleNs; // the run's console calls replayed on the host firmware's screen model
  double ToolNs() const { return runNs - modelNs - consoleNs; }
};

// Benchmarks the run of every measured entry (its trace and console log say what to replay).
// `argc`/`argv` may carry Google Benchmark's own flags (--benchmark_min_time and so on).
std::vector<CpuCost> MeasureCpu(const std::vector<RunMeasure> &runs, double minTimeSeconds,
                                int argc, char **argv);

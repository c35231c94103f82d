// One case of the fault sweep: whole /f updates of one target on the simulated platform, each
// with one fault of one kind at one transaction index, every run judged; then the case's summary.
//
//   panelup_fault_sweep CID:PID KIND all|N@SEED [SLICE/SLICES]
//
// KIND: fail-from, fail-once, flip-read, ignore-write, cut-and-retry, cut-lost-retry,
// write-back-lost-retry, unattended-retry. `all` faults every index where the kind can strike,
// N@SEED a seeded draw of N of them; SLICE/SLICES runs every SLICES-th of those from the SLICE-th
// (0-based). Exit status: 0 clean, 1 a rule was broken, 2 bad use.
#include <iostream>

#include "tests/sweep/sweep_rules.h"
#include "tests/sweep/sweep_run.h"

int main(int argc, char **argv) {
  using namespace sweep;
  Target target;
  FaultKind kind = FaultKind::FailFrom;
  Selection s;
  const std::string sample = argc > 3 ? argv[3] : "";
  if (argc < 4 || argc > 5 || !ParseTarget(argv[1], &target) || !ParseKind(argv[2], &kind) ||
      (sample != "all" && !ParsePair(sample, '@', &s.sample, &s.seed)) ||
      (argc == 5 && !ParsePair(argv[4], '/', &s.slice, &s.slices)) || s.slice >= s.slices) {
    std::cerr << "usage: panelup_fault_sweep CID:PID KIND all|N@SEED [SLICE/SLICES]\n";
    return 2;
  }
  Reference reference;
  std::string error;
  if (!LearnReference(target, &reference, &error)) {
    std::cerr << "fault sweep: " << error << "\n";
    return 2;
  }
  Tally tally;
  for (uint64_t index : Indices(reference, kind, s))
    tally.Add(reference, index, Judge(target, RunWithFault(target, Fault{kind, index})));
  PrintSummary(std::cout, reference, kind, s, tally);
  return tally.violations.empty() ? 0 : 1;
}

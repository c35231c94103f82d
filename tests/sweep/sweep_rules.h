// The rules every faulted run must keep, and one sweep case around them: the fault indices it
// runs and its counts by phase of the faulted transaction.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/sweep/sweep_run.h"

namespace sweep {

struct Verdict {
  Outcome outcome = Outcome::Other;
  // Success reported while the flash lacks the image or any byte of the chip's own key area.
  bool falseSuccess = false;
  // The clean retry after a failed run: brought the key area back from the backup, or failed to
  // leave the image and the original key area with exit 0.
  bool retryRestored = false;
  bool retryLost = false; // without the backup, stopped before its erase on a blank key area
  bool retryFailed = false;
  // The chip's own key area is gone from the chip and from every backup, though the sweep never
  // removed a copy.
  bool keyLost = false;
  std::vector<std::string> violations;
};

Verdict Judge(const Target &target, const RunFacts &facts);

// Which of a kind's indices a case runs: all, or `sample` of them drawn with `seed`; then every
// `slices`-th of those from the `slice`-th, so the slices of one selection run each index once.
constexpr uint64_t kEveryIndex = UINT64_MAX;
struct Selection {
  uint64_t sample = kEveryIndex;
  uint64_t seed = 1;
  uint64_t slice = 0;
  uint64_t slices = 1;
};
std::vector<uint64_t> Indices(const Reference &reference, FaultKind kind, const Selection &s);

// Runs by phase of the faulted transaction, the last row all phases together. The columns: each
// Outcome, then the clean retry after a failed run: success, key area restored, stopped on a
// blank key area without the backup, failed.
using Counts = std::array<uint64_t, kOutcomes + 4>;
struct Tally {
  uint64_t runs = 0;
  std::array<Counts, kPhases + 1> counts{};
  uint64_t falseSuccesses = 0;
  uint64_t retriesFailed = 0;
  uint64_t keysLost = 0;
  // Runs by the attempt their struck transaction falls in (past the clean run's end, the budget
  // kind's later attempts).
  std::array<uint64_t, kBudgetAttempts> byAttempt{};
  std::vector<std::string> violations; // "at INDEX: what"

  void Add(const Reference &reference, uint64_t index, const Verdict &verdict);
};

void PrintSummary(std::ostream &out, const Reference &reference, FaultKind kind,
                  const Selection &selection, const Tally &tally);

} // namespace sweep

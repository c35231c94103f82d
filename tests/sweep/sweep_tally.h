// Counts over the sweep's runs: kept per shard, written to a report file, merged and summarised.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/sweep/sweep_rules.h"
#include "tests/sweep/sweep_run.h"

namespace sweep {

struct KindTally {
  uint64_t runs = 0;
  uint64_t struck = 0;
  // [phase of the faulted transaction][outcome]
  std::array<std::array<uint64_t, kOutcomes>, kPhases> outcomes{};
  uint64_t falseSuccesses = 0;
  uint64_t keyDamagedSuccesses = 0;
  uint64_t keyLostFailureReported = 0;
  uint64_t failureWithFlashRight = 0;
  // Retries by phase of the faulted transaction: [phase][0 plain, 1 key restored, 2 failed].
  std::array<std::array<uint64_t, 3>, kPhases> retries{};
  uint64_t RetriesFailed() const;
};

struct Violation {
  std::string target; // "2:6"
  FaultKind kind;
  uint64_t index;
  std::string what;
};

struct TargetTally {
  Reference reference; // transactions and phase starts; ops are not kept in reports
  std::array<KindTally, kFaultKinds> kinds;
};

struct Tally {
  std::vector<std::pair<std::string, TargetTally>> targets; // by "cid:pid", in sweep order
  std::vector<Violation> violations;
  std::vector<std::string> shardsDone; // "i/n" of each complete shard report read or written

  TargetTally &ForTarget(const std::string &key); // added if new
  void AddTarget(const Reference &reference);
  void Add(const Reference &reference, const Fault &fault, const Verdict &verdict);
  uint64_t Runs() const;
  uint64_t FalseSuccesses() const;
};

std::string TargetKey(const Target &target); // "2:6"

void WriteReport(std::ostream &out, const Tally &tally, const std::string &shard);
// Adds a report's counts to `tally`; false (with `error`) on a malformed or incomplete report.
bool MergeReport(const std::string &path, Tally *tally, std::string *error);

void PrintSummary(std::ostream &out, const Tally &tally);

} // namespace sweep

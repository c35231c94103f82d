#include "tests/sweep/sweep_rules.h"

#include <algorithm>
#include <iomanip>
#include <random>

#include "catalogue/catalogue.h"
#include "chip/flash.h"

namespace sweep {

std::vector<uint64_t> Indices(const Reference &r, FaultKind kind, const Selection &s) {
  std::vector<uint64_t> all;
  for (uint64_t i = 0; i < KindIndexEnd(r, kind); ++i)
    if (KindStrikes(r, kind, i))
      all.push_back(i);
  if (s.sample < all.size()) {
    // Each kind and target has its own stream, so adding one does not move the others' samples.
    std::mt19937_64 rng(s.seed ^ (uint64_t{r.target.cid} << 40) ^ (uint64_t{r.target.pid} << 32) ^
                        (static_cast<uint64_t>(kind) << 24));
    const auto n = static_cast<size_t>(s.sample);
    for (size_t i = 0; i < n; ++i) {
      std::uniform_int_distribution<size_t> pick(i, all.size() - 1);
      std::swap(all[i], all[pick(rng)]);
    }
    all.resize(n);
    std::sort(all.begin(), all.end());
  }
  std::vector<uint64_t> mine;
  for (size_t i = s.slice; i < all.size(); i += s.slices)
    mine.push_back(all[i]);
  return mine;
}

void Tally::Add(const Reference &reference, uint64_t index, const Verdict &verdict) {
  ++runs;
  const uint64_t erase = reference.phaseStart[static_cast<int>(Phase::Erase)];
  if (index >= erase && reference.AttemptLength() > 0)
    ++byAttempt[std::min<uint64_t>((index - erase) / reference.AttemptLength(),
                                   kBudgetAttempts - 1)];
  for (Counts *row : {&counts[static_cast<size_t>(reference.PhaseOf(index))], &counts[kPhases]}) {
    ++(*row)[static_cast<size_t>(verdict.outcome)];
    if (verdict.outcome != Outcome::Success)
      ++(*row)[kOutcomes + (verdict.retryFailed     ? 3
                            : verdict.retryLost     ? 2
                            : verdict.retryRestored ? 1
                                                    : 0)];
  }
  falseSuccesses += verdict.falseSuccess ? 1 : 0;
  retriesFailed += verdict.retryFailed ? 1 : 0;
  keysLost += verdict.keyLost ? 1 : 0;
  for (const std::string &what : verdict.violations)
    violations.push_back("at " + std::to_string(index) + ": " + what);
}

void PrintSummary(std::ostream &out, const Reference &r, FaultKind kind, const Selection &s,
                  const Tally &t) {
  const CatalogueEntry &e = FirmwareCatalogue[r.target.entry];
  out << "Fault sweep of /f " << int(r.target.cid) << " " << int(r.target.pid) << ": entry "
      << int(r.target.entry) << ", " << e.length << " bytes in " << PageCount(e.length)
      << " pages, " << r.transactions << " transactions\n  phases:";
  for (int p = 0; p < kPhases; ++p) {
    uint64_t end = p + 1 < kPhases ? r.phaseStart[p + 1] : r.transactions;
    out << (p ? ", " : " ") << PhaseName(static_cast<Phase>(p)) << " " << r.phaseStart[p] << "-"
        << end - 1;
  }
  out << "\n"
      << KindName(kind) << ": " << KindTitle(kind) << "\nruns: " << t.runs << ", "
      << (s.sample == kEveryIndex
              ? std::string("every index it can strike")
              : std::to_string(s.sample) + " indices drawn with seed " + std::to_string(s.seed))
      << ", slice " << s.slice << "/" << s.slices << "\n";
  out << "outcomes by phase of the faulted transaction, then the clean retry after every failed "
         "run\n";
  auto row = [&out](const char *name, const auto &cells) {
    out << "  " << std::left << std::setw(16) << name << std::right;
    for (size_t i = 0; i < cells.size(); ++i)
      out << (i == kOutcomes ? " |" : "") << std::setw(i == 3 ? 11 : 9) << cells[i];
    out << "\n";
  };
  row("phase",
      std::array<const char *, kOutcomes + 4>{"success", "failure", "chip-id", "not-erased",
                                              "other", "retry", "restored", "lost", "failed"});
  for (int p = 0; p <= kPhases; ++p)
    row(p < kPhases ? PhaseName(static_cast<Phase>(p)) : "all", t.counts[p]);
  if (kind == FaultKind::BudgetInAttempt) {
    out << "runs by attempt of the struck transaction:";
    for (size_t a = 0; a < t.byAttempt.size(); ++a)
      out << (a ? ", " : " ") << a + 1 << ": " << t.byAttempt[a];
    out << "\n";
  }
  out << "false successes: " << t.falseSuccesses
      << "\nretries that failed to leave the image and the original key area (or, without the "
         "backup, to stop saying the key area is lost): "
      << t.retriesFailed << "\nkeys lost while a copy exists: " << t.keysLost
      << "\nviolations: " << t.violations.size() << "\n";
  for (const std::string &v : t.violations)
    out << "  " << v << "\n";
}

} // namespace sweep

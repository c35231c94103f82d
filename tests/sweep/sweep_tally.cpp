#include "tests/sweep/sweep_tally.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "catalogue/catalogue.h"
#include "chip/flash.h"

namespace sweep {
namespace {

int KindNumber(FaultKind kind) {
  return static_cast<int>(kind);
}

std::string Padded(const std::string &text, size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string Number(uint64_t n, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%*llu", width, static_cast<unsigned long long>(n));
  return text;
}

std::string FName(const std::string &key) {
  std::string name = key;
  std::replace(name.begin(), name.end(), ':', ' ');
  return "/f " + name;
}

void PrintTargets(std::ostream &out, const Tally &tally) {
  for (const auto &[key, t] : tally.targets) {
    const Reference &r = t.reference;
    const CatalogueEntry &e = FirmwareCatalogue[r.target.entry];
    out << FName(key) << ": entry " << int(r.target.entry) << ", " << e.length << " bytes in "
        << PageCount(e.length) << " pages, " << r.transactions << " transactions\n  phases:";
    for (int p = 0; p < kPhases; ++p) {
      uint64_t end = p + 1 < kPhases ? r.phaseStart[p + 1] : r.transactions;
      out << (p ? ", " : " ") << PhaseName(static_cast<Phase>(p)) << " " << r.phaseStart[p] << "-"
          << end - 1;
    }
    out << "\n";
  }
}

void PrintOutcomes(std::ostream &out, const Tally &tally) {
  out << "\nOutcomes by kind, by phase of the faulted transaction (exit 0 / 248 / 255 / 254 /"
         " other),\nthen the clean retry after every failed run (success / key restored from the"
         " backup / failed)\n";
  for (FaultKind kind : kAllKinds) {
    bool any = false;
    for (const auto &entry : tally.targets)
      any = any || entry.second.kinds[KindNumber(kind)].runs > 0;
    if (!any)
      continue;
    out << KindName(kind) << ": " << KindTitle(kind) << "\n" << Padded("", 18);
    for (const auto &entry : tally.targets)
      out << Padded(FName(entry.first), 76);
    out << "\n" << Padded("  phase", 18);
    for (size_t i = 0; i < tally.targets.size(); ++i)
      out << " success  failure  chip-id not-erased  other |    retry restored   failed  ";
    out << "\n";
    for (int p = 0; p <= kPhases; ++p) {
      out << Padded(p < kPhases ? "  " + std::string(PhaseName(static_cast<Phase>(p))) : "  all",
                    18);
      for (const auto &entry : tally.targets) {
        const KindTally &k = entry.second.kinds[KindNumber(kind)];
        for (int o = 0; o < kOutcomes; ++o) {
          uint64_t n = 0;
          for (int q = 0; q < kPhases; ++q)
            if (p == kPhases || p == q)
              n += k.outcomes[q][o];
          out << Number(n, o == 3 ? 10 : 8) << " ";
        }
        out << "|";
        for (int o = 0; o < 3; ++o) {
          uint64_t n = 0;
          for (int q = 0; q < kPhases; ++q)
            if (p == kPhases || p == q)
              n += k.retries[q][o];
          out << Number(n, 8) << " ";
        }
        out << "  ";
      }
      out << "\n";
    }
  }
}

// One line per kind: the counter's value for each target.
template <typename Count>
void PrintByKind(std::ostream &out, const Tally &tally, const char *title, Count count) {
  out << title << "\n";
  for (FaultKind kind : kAllKinds) {
    uint64_t runs = 0;
    for (const auto &entry : tally.targets)
      runs += entry.second.kinds[KindNumber(kind)].runs;
    if (runs == 0)
      continue;
    out << "  " << Padded(KindName(kind), 14);
    for (const auto &[key, t] : tally.targets)
      out << " " << FName(key) << ": " << count(t.kinds[KindNumber(kind)]);
    out << "\n";
  }
}

} // namespace

std::string TargetKey(const Target &target) {
  return std::to_string(target.cid) + ":" + std::to_string(target.pid);
}

TargetTally &Tally::ForTarget(const std::string &key) {
  for (auto &[name, tally] : targets)
    if (name == key)
      return tally;
  targets.emplace_back(key, TargetTally{});
  return targets.back().second;
}

void Tally::AddTarget(const Reference &reference) {
  TargetTally &t = ForTarget(TargetKey(reference.target));
  t.reference = reference;
  t.reference.ops.clear();
}

void Tally::Add(const Reference &reference, const Fault &fault, const Verdict &verdict) {
  KindTally &k = ForTarget(TargetKey(reference.target)).kinds[KindNumber(fault.kind)];
  ++k.runs;
  if (verdict.struck)
    ++k.struck;
  ++k.outcomes[static_cast<int>(reference.PhaseOf(fault.index))][static_cast<int>(verdict.outcome)];
  if (verdict.falseSuccess)
    ++k.falseSuccesses;
  if (verdict.keyDamagedSuccess)
    ++k.keyDamagedSuccesses;
  if (verdict.retried)
    ++k.retries[static_cast<int>(reference.PhaseOf(fault.index))]
               [verdict.retryFailed ? 2 : (verdict.retryRestored ? 1 : 0)];
  if (verdict.keyLostFailureReported)
    ++k.keyLostFailureReported;
  if (verdict.failureWithFlashRight)
    ++k.failureWithFlashRight;
  for (const std::string &what : verdict.violations)
    violations.push_back(Violation{TargetKey(reference.target), fault.kind, fault.index, what});
}

uint64_t KindTally::RetriesFailed() const {
  uint64_t n = 0;
  for (const auto &byPhase : retries)
    n += byPhase[2];
  return n;
}

uint64_t Tally::Runs() const {
  uint64_t n = 0;
  for (const auto &entry : targets)
    for (const KindTally &k : entry.second.kinds)
      n += k.runs;
  return n;
}

uint64_t Tally::FalseSuccesses() const {
  uint64_t n = 0;
  for (const auto &entry : targets)
    for (const KindTally &k : entry.second.kinds)
      n += k.falseSuccesses;
  return n;
}

void WriteReport(std::ostream &out, const Tally &tally, const std::string &shard) {
  for (const auto &[key, t] : tally.targets) {
    const Reference &r = t.reference;
    out << "target " << key << " " << int(r.target.entry) << " " << r.transactions;
    for (uint64_t start : r.phaseStart)
      out << " " << start;
    out << "\n";
    for (FaultKind kind : kAllKinds) {
      const KindTally &k = t.kinds[KindNumber(kind)];
      out << "kind " << key << " " << KindName(kind) << " " << k.runs << " " << k.struck << " "
          << k.falseSuccesses << " " << k.keyDamagedSuccesses << " " << k.keyLostFailureReported
          << " " << k.failureWithFlashRight;
      for (const auto &byPhase : k.outcomes)
        for (uint64_t n : byPhase)
          out << " " << n;
      for (const auto &byPhase : k.retries)
        for (uint64_t n : byPhase)
          out << " " << n;
      out << "\n";
    }
  }
  for (const Violation &v : tally.violations)
    out << "violation " << v.target << " " << KindName(v.kind) << " " << v.index << " " << v.what
        << "\n";
  out << "done " << shard << "\n";
}

bool MergeReport(const std::string &path, Tally *tally, std::string *error) {
  std::ifstream in(path);
  if (!in) {
    *error = path + ": cannot read";
    return false;
  }
  std::string line;
  bool done = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string tag;
    std::string key;
    std::string kindName;
    words >> tag >> key;
    Target target;
    FaultKind kind = FaultKind::FailFrom;
    bool ok = ParseTarget(key, &target);
    if (tag == "done") {
      tally->shardsDone.push_back(key);
      done = ok = true;
    } else if (ok && tag == "target") {
      Reference r;
      int entry = 0;
      words >> entry >> r.transactions;
      for (uint64_t &start : r.phaseStart)
        words >> start;
      r.target = target;
      ok = bool(words) && entry == target.entry;
      if (ok)
        tally->ForTarget(key).reference = r;
    } else if (ok && (words >> kindName) && ParseKind(kindName, &kind)) {
      if (tag == "kind") {
        KindTally &k = tally->ForTarget(key).kinds[KindNumber(kind)];
        uint64_t n[6] = {};
        for (uint64_t &v : n)
          words >> v;
        k.runs += n[0], k.struck += n[1], k.falseSuccesses += n[2], k.keyDamagedSuccesses += n[3];
        k.keyLostFailureReported += n[4], k.failureWithFlashRight += n[5];
        for (auto &byPhase : k.outcomes)
          for (uint64_t &count : byPhase)
            if (words >> n[0])
              count += n[0];
        for (auto &byPhase : k.retries)
          for (uint64_t &count : byPhase)
            if (words >> n[0])
              count += n[0];
        ok = !words.fail();
      } else if (tag == "violation") {
        Violation v{key, kind, 0, {}};
        words >> v.index >> std::ws;
        std::getline(words, v.what);
        tally->violations.push_back(v);
      } else {
        ok = false;
      }
    } else {
      ok = false;
    }
    if (!ok) {
      *error = path + ": cannot read the line '" + line + "'";
      return false;
    }
  }
  if (!done) {
    *error = path + ": the shard did not finish";
    return false;
  }
  return true;
}

void PrintSummary(std::ostream &out, const Tally &tally) {
  out << "Fault sweep: whole /f runs on the simulated platform, one injected fault per run\n";
  PrintTargets(out, tally);
  uint64_t struck = 0;
  for (const auto &entry : tally.targets)
    for (const KindTally &k : entry.second.kinds)
      struck += k.struck;
  out << "\nruns: " << tally.Runs() << "   faults injected: " << tally.Runs()
      << "   of which struck their transaction: " << struck << "\n";
  out << "(a flipped read is injected at every read, an ignored write at every write, the other\n"
         "kinds at every transaction; the sample tier picks indices from the same sets)\n";
  PrintOutcomes(out, tally);
  out << "\nfalse successes: " << tally.FalseSuccesses() << "\n";
  PrintByKind(out, tally, "success reported with a key area that is not the chip's own:",
              [](const KindTally &k) { return k.keyDamagedSuccesses; });
  PrintByKind(out, tally, "retries that failed to leave the image and the original key area:",
              [](const KindTally &k) { return k.RetriesFailed(); });
  PrintByKind(out, tally,
              "key area lost by the first run, failure reported (the retry restores it):",
              [](const KindTally &k) { return k.keyLostFailureReported; });
  PrintByKind(out, tally, "failure reported though the image and key area are right:",
              [](const KindTally &k) { return k.failureWithFlashRight; });
  out << "violations: " << tally.violations.size() << "\n";
  for (const Violation &v : tally.violations)
    out << "  " << FName(v.target) << " " << KindName(v.kind) << " at " << v.index << ": " << v.what
        << "\n";
}

} // namespace sweep

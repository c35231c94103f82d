#include "tests/bench/measure.h"

#include <cstring>
#include <iterator>
#include <string>

#include "app/result_record.h"
#include "catalogue/catalogue.h"
#include "chip/registers.h"
#include "tests/host/register_lists.h"
#include "tests/sweep/sweep_run.h"

namespace {

bool PreambleAt(const std::vector<sim::Transaction> &trace, size_t at) {
  if (at + std::size(kFlashPreamble) > trace.size())
    return false;
  for (size_t i = 0; i < std::size(kFlashPreamble); ++i) {
    const sim::Transaction &t = trace[at + i];
    if (t.op != sim::Op::Write || t.reg != kFlashPreamble[i].reg ||
        t.value != kFlashPreamble[i].value)
      return false;
  }
  return true;
}

} // namespace

BusCount KeyReadBack(const std::vector<sim::Transaction> &trace) {
  size_t start = trace.size();
  for (size_t i = trace.size(); i-- > 0;) {
    if (PreambleAt(trace, i)) {
      start = i;
      break;
    }
  }
  BusCount count;
  for (size_t i = start; i < trace.size(); ++i)
    ++(trace[i].op == sim::Op::Read ? count.reads : count.writes);
  return count;
}

FlashRun MeasureFlash(int entry) {
  const CatalogueEntry &e = FirmwareCatalogue[entry];
  sim::HostPlatform p;
  FlashRun run;
  run.status = p.Run({"Panelup.efi", "/f", std::to_string(e.cid), std::to_string(e.pid)});
  // All the bench asks of the platform, in one place.
  run.flashed = std::memcmp(p.Chip().flash, e.image, e.length) == 0 && sim::KeyAreaIntact(p.Chip());
  run.bus = {p.Bus().writes, p.Bus().reads};
  run.busBits = p.Bus().busBits;
  for (const sim::StallCall &stall : p.Recorded<sim::StallCall>())
    run.waitMicros += stall.micros;
  run.keyReadBack = KeyReadBack(p.Recorded<sim::Transaction>());
  run.pool = p.Pool();
  run.poolBalanced = p.PoolBalanced();
  return run;
}

LongRun MeasureLongRun(int entry, LongCase which, uint32_t failureMicros) {
  const CatalogueEntry &e = FirmwareCatalogue[entry];
  const std::string pair = std::to_string(e.cid) + " " + std::to_string(e.pid);
  const sweep::Reference &clean =
      sweep::LearntReference(std::to_string(e.cid) + ":" + std::to_string(e.pid));
  const uint64_t save = clean.phaseStart[static_cast<int>(sweep::Phase::KeySave)];
  const uint64_t pairLength = clean.phaseStart[static_cast<int>(sweep::Phase::Erase)] - save;
  constexpr uint8_t kAttempts = sweep::kBudgetAttempts;

  sim::HostOptions o;
  o.faults.failureMicros = failureMicros;
  std::vector<uint64_t> failAt;
  if (which != LongCase::Clean) {
    o.arguments = sim::ArgumentSource::LoadOptions;
    o.rawLoadOptions = "/f " + pair;
  }
  if (which == LongCase::Worst) {
    // Nothing ends early: one failure in each of the first eight key-area reads (each read
    // again), then the rest of the budget spread over the nine attempts, so that every one fails,
    // the last at the run's very last transfer, where the bus is given up with nothing left.
    for (uint64_t k = 0; k + 1 < kAttempts; ++k)
      failAt.push_back(save + k * pairLength);
    const uint64_t attempts = save + kAttempts * pairLength;
    const uint64_t end = attempts + kAttempts * clean.AttemptLength();
    const uint64_t rest = kFailureBudget - failAt.size();
    const uint64_t stride = (end - attempts) / rest;
    for (uint64_t i = rest; i-- > 0;)
      failAt.push_back(end - 1 - i * stride);
    o.faults.failAt = failAt.data();
    o.faults.failAtCount = static_cast<uint32_t>(failAt.size());
  } else if (which == LongCase::Degraded) {
    o.faults.failAlternateFrom = clean.phaseStart[static_cast<int>(sweep::Phase::Erase)];
  }
  sim::HostPlatform p(o);
  if (which != LongCase::Clean)
    sweep::PlantSchedule(p, kAttempts);
  LongRun run;
  run.status = which == LongCase::Clean
                   ? p.Run({"Panelup.efi", "/f", std::to_string(e.cid), std::to_string(e.pid)})
                   : p.Run({});
  run.transactions = p.Bus().transactions;
  run.failures = p.Bus().failures;
  run.micros = p.RunMicros();
  ResultRecord record{};
  if (const sim::StoredVariable *v = p.FindVariable(kResultRecordName, kResultRecordGuid))
    if (ParseResultRecord(reinterpret_cast<const char *>(v->data.data()),
                          static_cast<uint32_t>(v->data.size()), &record) == RecordProblem::None)
      run.attempts = record.attempts;
  return run;
}

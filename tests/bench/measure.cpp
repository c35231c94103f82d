#include "tests/bench/measure.h"

#include <cstring>
#include <iterator>
#include <string>

#include "catalogue/catalogue.h"
#include "tests/host/register_lists.h"

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

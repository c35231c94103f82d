#include "tests/bench/measure.h"

#include <cstring>
#include <iterator>
#include <string>

#include "catalogue/catalogue.h"

namespace {

// FlashPreamble as the register protocol lists it: bank 0x80, access, the controller reset from
// bank 0x90, bank 0x80 again, latch set, idle.
struct Write {
  uint8_t reg;
  uint8_t value;
};
constexpr Write kPreamble[] = {{0xFF, 0x80}, {0xEE, 0x01}, {0xFF, 0x90}, {0x02, 0xDF},
                               {0x02, 0xFF}, {0xFF, 0x80}, {0x5A, 0x86}, {0x5A, 0x82}};

bool PreambleAt(const std::vector<sim::Transaction> &trace, size_t at) {
  if (at + std::size(kPreamble) > trace.size())
    return false;
  for (size_t i = 0; i < std::size(kPreamble); ++i) {
    const sim::Transaction &t = trace[at + i];
    if (t.op != sim::Op::Write || t.reg != kPreamble[i].reg || t.value != kPreamble[i].value)
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

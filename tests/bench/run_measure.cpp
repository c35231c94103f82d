#include "tests/bench/run_measure.h"

#include <cstring>

#include "catalogue/catalogue.h"

namespace {

// FlashPreamble as the register protocol lists it: every flash routine starts with it, so the
// last one in a run opens the key-area read-back.
struct Write {
  uint8_t reg;
  uint8_t value;
};
constexpr Write kPreamble[] = {{0xFF, 0x80}, {0xEE, 0x01}, {0xFF, 0x90}, {0x02, 0xDF},
                               {0x02, 0xFF}, {0xFF, 0x80}, {0x5A, 0x86}, {0x5A, 0x82}};
constexpr size_t kPreambleLength = sizeof(kPreamble) / sizeof(kPreamble[0]);

bool PreambleAt(const std::vector<sim::Transaction> &trace, size_t at) {
  if (at + kPreambleLength > trace.size())
    return false;
  for (size_t i = 0; i < kPreambleLength; ++i) {
    const sim::Transaction &t = trace[at + i];
    if (t.op != sim::Op::Write || t.reg != kPreamble[i].reg || t.value != kPreamble[i].value)
      return false;
  }
  return true;
}

// Counts the transactions from the last preamble to the end of the run.
void MeasureKeyCheck(RunMeasure &m) {
  m.keyCheck = {};
  m.keyCheckBits = 0;
  size_t start = m.trace.size();
  for (size_t i = m.trace.size(); i-- > 0;) {
    if (PreambleAt(m.trace, i)) {
      start = i;
      break;
    }
  }
  for (size_t i = start; i < m.trace.size(); ++i) {
    bool read = m.trace[i].op == sim::Op::Read;
    ++(read ? m.keyCheck.reads : m.keyCheck.writes);
    m.keyCheckBits += read ? sim::kReadByteBits : sim::kWriteByteBits;
  }
}

} // namespace

std::vector<std::string> FlashArguments(int entry) {
  const CatalogueEntry &e = FirmwareCatalogue[entry];
  return {"Panelup.efi", "/f", std::to_string(e.cid), std::to_string(e.pid)};
}

RunMeasure MeasureFlash(int entry, uint32_t busHz) {
  sim::HostOptions options;
  options.busHz = busHz;
  sim::HostPlatform p(options);
  RunMeasure m{};
  m.entry = entry;
  m.status = p.Run(FlashArguments(entry));

  const CatalogueEntry &e = FirmwareCatalogue[entry];
  m.flashed = std::memcmp(p.Chip().flash, e.image, e.length) == 0 && sim::KeyAreaIntact(p.Chip());
  m.bus = {p.Bus().writes, p.Bus().reads};
  m.busBits = p.Bus().busBits;
  m.waitMicros = 0;
  for (uint64_t stall : p.Stalls())
    m.waitMicros += stall;
  m.runMicros = p.RunMicros();
  m.pool = p.Pool();
  m.poolBalanced = p.PoolBalanced();
  m.trace = p.Trace();
  m.console = p.ConsoleLog();
  MeasureKeyCheck(m);
  return m;
}

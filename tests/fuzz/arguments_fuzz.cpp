// Fuzzes the argument vector through the real entry on the host platform: whatever the shell hands
// over, the run must end with a documented status, return its pool memory, keep the cursor on
// the screen and leave alone every CMOS byte but the four it owns.
//
// Input: four set-up bytes, then the arguments (argv[0] included) separated by '\n'.
//   byte 0  bits 0-1  chip: present, no SMBus controller, HandleProtocol failing, other chip id
//           bits 2-3  arguments through: shell parameters, shell interface, load options
//           bits 4-5  pool: sound, every allocation failing, allocation number byte 3 failing
//           bit 6     run the same arguments a second time on the same machine
//   byte 1  CMOS 0x70 and the chip's version CID
//   byte 2  CMOS 0x71 and the chip's version PID
//   byte 3  the failing allocation, 1-based
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/host/host_platform.h"

namespace {

constexpr size_t kSetUpBytes = 4;
constexpr size_t kMaxFuzzArguments = 40; // more than the entry keeps

[[noreturn]] void Fail(const char *what, long long value) {
  std::fprintf(stderr, "invariant broken: %s (%lld)\n", what, value);
  std::abort();
}

bool DocumentedStatus(int64_t status) {
  for (int64_t s : {0, 10, 21, 22, 24, 30, 31, 248, 255})
    if (status == s)
      return true;
  return false;
}

// CMOS bytes the tool may write: the published version and the update status.
bool ToolOwnedCmos(size_t index) {
  return (index >= 0x70 && index <= 0x72) || index == 0x79;
}

std::vector<std::string> SplitArguments(const uint8_t *data, size_t size) {
  std::vector<std::string> args;
  if (size == 0)
    return args;
  std::string current;
  for (size_t i = 0; i < size && args.size() < kMaxFuzzArguments; ++i) {
    if (data[i] == '\n') {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (args.size() < kMaxFuzzArguments)
    args.push_back(current);
  return args;
}

sim::HostOptions OptionsFrom(const uint8_t *setUp) {
  sim::HostOptions o;
  switch (setUp[0] & 3) {
  case 1:
    o.smbusPresent = false;
    break;
  case 2:
    o.handleProtocolFails = true;
    break;
  case 3:
    o.chip.idLow = 0x06;
    break;
  }
  switch ((setUp[0] >> 2) & 3) {
  case 1:
    o.arguments = sim::ArgumentSource::ShellInterface;
    break;
  case 2:
    o.arguments = sim::ArgumentSource::LoadOptions;
    break;
  }
  switch ((setUp[0] >> 4) & 3) {
  case 2:
    o.failAllAllocations = true;
    break;
  case 3:
    o.failAllocationNumber = 1 + setUp[3];
    break;
  }
  // Recognisable power-on CMOS, so a stray write shows.
  for (size_t i = 0; i < o.cmos.size(); ++i)
    o.cmos[i] = static_cast<uint8_t>(0x5A ^ (i * 7));
  o.cmos[0x70] = setUp[1];
  o.cmos[0x71] = setUp[2];
  o.chip.cid = setUp[1];
  o.chip.pid = setUp[2];
  return o;
}

std::vector<uint8_t> Flash(sim::HostPlatform &p) {
  return std::vector<uint8_t>(p.Chip().flash, p.Chip().flash + sim::kFlashSize);
}

void CheckRun(sim::HostPlatform &p, int64_t status, const sim::HostOptions &o,
              const std::vector<uint8_t> &flashBefore) {
  if (!DocumentedStatus(status))
    Fail("undocumented exit status", status);
  if (!p.PoolBalanced()) {
    for (const std::string &e : p.PoolErrors())
      std::fprintf(stderr, "pool: %s\n", e.c_str());
    Fail("pool not balanced, allocations outstanding", p.Pool().outstandingCount);
  }
  if (p.CursorColumn() < 0 || p.CursorColumn() >= sim::kScreenColumns)
    Fail("cursor column off the screen", p.CursorColumn());
  if (p.CursorRow() < 0 || p.CursorRow() >= sim::kScreenRows)
    Fail("cursor row off the screen", p.CursorRow());
  for (size_t i = 0; i < o.cmos.size(); ++i)
    if (!ToolOwnedCmos(i) && p.Cmos(static_cast<uint8_t>(i)) != o.cmos[i])
      Fail("CMOS byte outside the tool's own changed", static_cast<long long>(i));
  // Only an update that got as far as comparing may have touched the flash; a passed one must
  // leave the chip its own key area.
  const sim::BridgeChip &chip = p.Chip();
  if (status != 0 && status != 248 &&
      std::memcmp(chip.flash, flashBefore.data(), flashBefore.size()) != 0)
    Fail("flash changed by a run that did not update", status);
  if (status == 0 &&
      std::memcmp(chip.flash + sim::kKeyAreaAddress, chip.originalKeyArea, sim::kKeyAreaSize) != 0)
    Fail("update passed but the key area differs", status);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kSetUpBytes)
    return -1;
  const sim::HostOptions options = OptionsFrom(data);
  const bool runTwice = (data[0] & 0x40) != 0;
  const std::vector<std::string> args = SplitArguments(data + kSetUpBytes, size - kSetUpBytes);

  sim::HostPlatform p(options);
  const std::vector<uint8_t> powerOnFlash = Flash(p);
  const int64_t status = p.Run(args);
  CheckRun(p, status, options, powerOnFlash);

  if (runTwice) {
    // A second run in the same loaded state must behave as a fresh load would. An update changes
    // the chip, and a numbered allocation failure hits only once, so those are not compared.
    const std::vector<uint8_t> flashBefore = Flash(p);
    const bool comparable = flashBefore == powerOnFlash && (data[0] & 0x30) != 0x30;
    const std::string screen = p.ScreenText();
    const int64_t again = p.Run(args);
    CheckRun(p, again, options, flashBefore);
    if (comparable && again != status)
      Fail("second run gave another status", again);
    if (comparable && p.ScreenText() != screen)
      Fail("second run left another screen", again);
  }
  return 0;
}

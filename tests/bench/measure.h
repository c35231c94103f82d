// One /f run on the simulated platform and what the bench reads off it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/host/host_platform.h"
#include "tests/bench/floor.h"

struct FlashRun {
  int64_t status = 0;
  bool flashed = false;    // the flash holds the entry's image and the key area is the chip's own
  BusCount bus;            // every transaction of the run
  uint64_t busBits = 0;    // their bit times on the bus
  BusCount keyReadBack;    // from the last flash preamble on
  uint64_t waitMicros = 0; // every Stall the tool asked for
  sim::PoolStats pool;
  bool poolBalanced = false;
};

// The transactions from the last FlashPreamble to the end: the key-area read-back that closes
// every update. Zero when the trace holds no preamble.
BusCount KeyReadBack(const std::vector<sim::Transaction> &trace);

// `/f CID PID` of catalogue entry `entry` on a freshly powered platform.
FlashRun MeasureFlash(int entry);

// How long a /f can take, as the simulated platform models it, with each failed transfer
// waiting out `failureMicros` (a controller's timeout).
struct LongRun {
  int64_t status = 0;
  uint64_t transactions = 0;
  uint64_t failures = 0;
  uint64_t micros = 0; // simulated time of the whole run: bus, timeouts and waits
  int attempts = -1;   // as the result record gives them; -1 without a readable record
};
enum class LongCase : uint8_t {
  Clean,    // from the shell, one attempt, no fault
  Worst,    // from a boot option, nine attempts, the failure budget spent as late as it can be
  Degraded, // from a boot option, nine attempts, every other transfer failing from the erase on
};
LongRun MeasureLongRun(int entry, LongCase which, uint32_t failureMicros);

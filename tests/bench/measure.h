// One /f run on the simulated platform and what the bench reads off it.
#pragma once

#include <cstdint>
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

// One whole /f run on the simulated platform, with what the bench reads off it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/host/host_platform.h"
#include "tests/bench/floor.h"

struct RunMeasure {
  int entry;
  int64_t status;
  bool flashed;      // the flash holds the entry's image and the key area is the chip's own
  BusCount bus;      // every transaction of the run
  uint64_t busBits;  // bit times on the bus
  BusCount keyCheck; // from the last flash preamble on: the key-area read-back
  uint64_t keyCheckBits;
  uint64_t waitMicros; // every Stall the tool asked for
  uint64_t runMicros;  // modelled: bus time at the run's clock plus the waits
  sim::PoolStats pool;
  bool poolBalanced;
  std::vector<sim::Transaction> trace;
  std::vector<sim::ConsoleCall> console;
};

// The command line that flashes catalogue entry `entry`: /f with its CID and PID.
std::vector<std::string> FlashArguments(int entry);

// Runs /f for `entry` on a freshly powered platform with the bus clocked at `busHz`.
RunMeasure MeasureFlash(int entry, uint32_t busHz);

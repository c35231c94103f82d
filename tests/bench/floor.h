// The SMBus transactions a /f run cannot do without, counted from the chip's register protocol
// alone: every register access is one byte-data transaction and nothing is batched. Written apart
// from the tool's code on purpose, so the bench holds the tool against the protocol rather than
// against itself.
#pragma once

#include <cstdint>
#include <vector>

struct BusCount {
  uint64_t writes = 0;
  uint64_t reads = 0;
  bool operator==(const BusCount &) const = default;
};

struct FloorStep {
  const char *name = nullptr;
  BusCount count;
};

// Pages of 16 bytes that `length` bytes take, the last one possibly short.
uint32_t PagesFor(uint32_t length);

// Every step of one update with an image of `imageLength` bytes, in run order. The last step is
// the key-area read-back that follows the firmware read-back.
std::vector<FloorStep> FloorSteps(uint32_t imageLength);
BusCount FloorTotal(uint32_t imageLength);
// The key-area read-back alone: the same for every image.
BusCount FloorKeyReadBack();

// The key area's restore margin: how many bytes of the area failed writes in the key write-back
// leave lacking a bit of the key, against how many another chip's key area lacks.
#pragma once

#include <cstdint>
#include <vector>

struct MarginRow {
  uint32_t failedWrites = 0;
  double meanMissing = 0;    // over the drawn placements
  uint32_t maxMissing = 0;   // the worst placement drawn
  uint32_t pagesMissing = 0; // the failures on the first data byte of successive pages
};

// For k = 1..maxFailed: `draws` placements of k failed writes among the write-back's, drawn
// with `seed`, each replayed onto the chip as it stood before the write-back of /f 2 6.
std::vector<MarginRow> MeasureRestoreMargin(uint32_t maxFailed, uint32_t draws, uint64_t seed);

// log10 of the chance that another chip's random key area lacks a bit of this one's key in at
// most `within` of its bytes (each byte does with 1 - (3/4)^8).
double Log10ChanceWithin(uint32_t within);

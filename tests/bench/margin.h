// The key area's restore margin: how many programmed bytes of the area differ from the key after
// failed writes in the key write-back, against how many of another chip's key area do.
#pragma once

#include <cstdint>
#include <vector>

struct MarginRow {
  uint32_t failedWrites = 0;
  double meanForeign = 0;    // over the drawn placements
  uint32_t maxForeign = 0;   // the worst placement drawn
  uint32_t pagesForeign = 0; // the failures on the first data byte of successive pages
};

// For k = 1..maxFailed: `draws` placements of k failed writes among the write-back's, drawn
// with `seed`, each replayed onto the chip as it stood before the write-back of /f 2 6.
std::vector<MarginRow> MeasureRestoreMargin(uint32_t maxFailed, uint32_t draws, uint64_t seed);

// log10 of the chance that another chip's random key area is programmed and differs from this
// one's key in at most `within` of its bytes (each byte is with (255/256)^2).
double Log10ChanceWithin(uint32_t within);

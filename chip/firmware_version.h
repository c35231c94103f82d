#pragma once

#include <stdint.h>

// The version triple a firmware image carries; printed as %02d.%02d.%02d.
struct FirmwareVersion {
  uint8_t cid;
  uint8_t pid;
  uint8_t txx;
};

// The /f firmware update.
#pragma once

#include <stdint.h>

#include "chip/flash_layout.h"
#include "update/outcome.h"

// Flash contents read back for the compare, at their flash addresses: the image from 0, the key
// area at its own address.
extern uint8_t ReadBackBuffer[kReadBackBufferSize];

// Runs the update for the requested version, after the chip bus has been found. While the key
// area is in custody a failed erase, write or verify is tried again, up to `maxAttempts` in all
// (1: never), but never on a bus the run gave up (chip/registers.h).
UpdateOutcome UpdateProcedure(uint8_t requestedCid, uint8_t requestedPid, uint8_t maxAttempts);

// The /f firmware update.
#pragma once

#include <stdint.h>

#include "update/outcome.h"

// Runs the update for the requested version, after the chip bus has been found.
UpdateResult UpdateProcedure(uint8_t requestedCid, uint8_t requestedPid);

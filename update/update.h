// The /f firmware update.
#pragma once

#include <stdint.h>

// Runs the update for the requested version; returns the exit status of /f.
int32_t UpdateProcedure(uint8_t requestedCid, uint8_t requestedPid);

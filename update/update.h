// The /f firmware update.
#pragma once

#include <stdint.h>

// Runs the update for the requested version; returns the exit status of /f: 0 when the chip
// holds the new firmware and its own key area, 248 when the compare failed, 254 when the key area
// could not be saved safely or the image is damaged (nothing erased), 255 when the chip id is
// wrong.
int32_t UpdateProcedure(uint8_t requestedCid, uint8_t requestedPid);

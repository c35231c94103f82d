// The /f firmware update.
#pragma once

#include <stdint.h>

// Exit status of an update whose compare found a difference; the same value as the status code
// it leaves in CMOS.
constexpr int32_t kExitCompareFailed = 248;
// Exit status of an update stopped before the erase because the key area could not be kept safe.
constexpr int32_t kExitKeyNotSecured = 254;

// Runs the update for the requested version; returns the exit status of /f: 0 when the chip
// holds the new firmware and its own key area, 248 when the compare failed, 254 when the key area
// could not be saved safely (nothing erased), 255 when the chip id is wrong.
int32_t UpdateProcedure(uint8_t requestedCid, uint8_t requestedPid);

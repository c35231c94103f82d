// Dates and times of the firmware's clock by the Gregorian calendar: the result record's time and
// the wake alarm's.
#pragma once

#include <stdint.h>

#include "uefi/runtime_services.h"

// A clock that fails, or gives a time no calendar has, is no time at all: years 1900 to 9999
// (EFI_TIME's range), a day the month has, hours, minutes and seconds in range.
bool PlausibleTime(const EFI_TIME &t);

// Moves a plausible `t` on by `seconds` (less than a day), carried into the minutes, hours, days,
// months and years; the nanoseconds become 0. False, with `t` unchanged, past 9999-12-31.
bool AddSeconds(EFI_TIME &t, uint32_t seconds);

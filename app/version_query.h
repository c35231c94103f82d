#pragma once

#include <stdint.h>

// Shows the version of the firmware in the chip; returns the exit status of /s.
int32_t VersionQuery();

// The chip's flash controller, behind the register interface of bridge_chip.cpp. Internal to the
// model: callers go through ChipRead/ChipWrite.
#pragma once

#include "sim/bridge_chip.h"

namespace sim {

// Empties the FIFO and clears the write-enable latch; the configuration stays.
void ControllerReset(BridgeChip &chip);
// A register write that arrived while the host has access (the value is already stored).
void ControllerWrite(BridgeChip &chip, uint8_t reg, uint8_t value);
// A read of 0x5F in bank 0x80 while the host has access.
uint8_t ControllerReadData(BridgeChip &chip);

} // namespace sim

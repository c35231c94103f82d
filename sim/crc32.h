// CRC-32 (IEEE 802.3: reflected polynomial 0xEDB88320, initial and final value 0xFFFFFFFF), the
// one used for the catalogue's images, the simulated chip's store and simctl's reports.
// Freestanding, for the emulator's images as well as the build's own tools.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace sim {

uint32_t Crc32(const uint8_t *data, size_t length);

} // namespace sim

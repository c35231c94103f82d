// CRC-32 (IEEE 802.3: reflected polynomial 0xEDB88320, initial and final value 0xFFFFFFFF), the
// one the catalogue's manifest gives for each image. The tool checks the image it is about to
// write with it; the build's embedder, the simulated chip's store and simctl use it too.
// Freestanding.
#pragma once

#include <stddef.h>
#include <stdint.h>

uint32_t Crc32(const uint8_t *data, size_t length);

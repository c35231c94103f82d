// Where things live in the chip's flash, and the buffers the flash routines fill.
#pragma once

#include <stdint.h>

constexpr uint32_t kFlashPageSize = 16;
constexpr uint32_t kHdcpKeyAddress = 0x6000;
constexpr uint32_t kHdcpKeySize = 286;
constexpr uint32_t kHdcpKeyPages = (kHdcpKeySize + kFlashPageSize - 1) / kFlashPageSize;
// Every firmware image is read back into this buffer before the compare.
constexpr uint32_t kReadBackBufferSize = 32768;

static_assert(kHdcpKeyPages == 18);
// The key area is read back into the same buffer, at its own flash address.
static_assert(kReadBackBufferSize >= kHdcpKeyAddress + kHdcpKeySize);

// The chip's flash controller operations, each an ordered list of register accesses. None of
// them waits or checks a result: the update reads everything back and compares.
#pragma once

#include <stdint.h>

#include "chip/flash_layout.h"

enum class PageForm : uint8_t {
  Firmware, // sets the write-enable latch before every page
  KeyArea,  // relies on the latch set once by the preamble
};

void FlashPreamble();
void FlashPostamble();
void ConfigPara();
void BlockErase();

void ReadPage(uint32_t address, uint8_t count, uint8_t *destination);
void ProgramPage(uint32_t address, const uint8_t (&data)[kFlashPageSize], PageForm form);

// Reads the key area into `destination`: before the erase to keep it, after the write-back to
// compare it.
void SaveHdcpKeyFromFlash(uint8_t (&destination)[kHdcpKeySize]);
void WriteHdcpKeyToFlash(const uint8_t (&keyArea)[kHdcpKeySize]);
// Called once per firmware page, between its data writes and its address writes.
using PageLoadedHook = void (*)(uint16_t page, uint16_t pages);
void WriteFirmwareToFlash(const uint8_t *image, uint16_t length, PageLoadedHook onPageLoaded);
// Reads `length` bytes from address 0 into `destination`, at their flash addresses.
void ReadFirmwareFromFlash(uint16_t length, uint8_t (&destination)[kReadBackBufferSize]);

// Zeroes a buffer that held key material, with stores the compiler cannot drop as dead.
void ClearKeyMaterial(uint8_t *buffer, uint32_t size);

// Pages of a region of `length` bytes; the last one may be short.
constexpr uint16_t PageCount(uint32_t length) {
  return static_cast<uint16_t>((length + kFlashPageSize - 1) / kFlashPageSize);
}

// The chip's flash controller operations, each an ordered list of register accesses. None of
// them waits or checks a result: the update reads everything back and compares.
#pragma once

#include <stdint.h>

#include "chip/flash_layout.h"

// The chip's own key area as it is written back after the firmware.
extern uint8_t HdcpKeyBuffer[kHdcpKeySize];
// Flash contents read back for the compare, at their flash addresses.
extern uint8_t ReadBackBuffer[kReadBackBufferSize];

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

// Reads the key area into `destination`.
void SaveHdcpKeyFromFlash(uint8_t (&destination)[kHdcpKeySize]);
void WriteHdcpKeyToFlash();
// Reads the key area back into ReadBackBuffer at its own address, for the key compare.
void ReadHdcpKeyFromFlash();
// Called once per firmware page, between its data writes and its address writes.
using PageLoadedHook = void (*)(uint16_t page, uint16_t pages);
void WriteFirmwareToFlash(const uint8_t *image, uint16_t length, PageLoadedHook onPageLoaded);
void ReadFirmwareFromFlash(uint16_t length);

// Zeroes a buffer that held key material, with stores the compiler cannot drop as dead.
void ClearKeyMaterial(uint8_t *buffer, uint32_t size);

// Pages of a region of `length` bytes; the last one may be short.
constexpr uint16_t PageCount(uint32_t length) {
  return static_cast<uint16_t>((length + kFlashPageSize - 1) / kFlashPageSize);
}

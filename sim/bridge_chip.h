// Model of the display bridge chip behind the SMBus: register banks, identity and version
// registers, and the flash controller with a 64 KiB NOR flash. Freestanding: it is built into
// the host tests and into the emulator's SimChip.efi driver alike.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace sim {

constexpr uint32_t kFlashSize = 0x10000;
constexpr uint32_t kKeyAreaAddress = 0x6000;
constexpr uint32_t kKeyAreaSize = 286;
constexpr uint64_t kEraseBusyMicros = 1000000; // the flash is busy this long after an erase
constexpr uint32_t kFifoSize = 16;
constexpr uint64_t kNever = ~0ull;

struct ChipConfig {
  uint8_t idHigh = 0x16;
  uint8_t idLow = 0x05;
  uint8_t cid = 2, pid = 6, txx = 12; // version registers of bank 0xD2
  uint32_t keySeed = 0x5EED;          // makes each simulated chip's key area its own
  bool ignoreWrites = false;          // a chip that ignores every register write
  // A flash byte that programs wrong: bits in stuckMask stay set at stuckAddress.
  int32_t stuckAddress = -1;
  uint8_t stuckMask = 0x01;
  // A key-area byte (offset in the key area) that is corrupted whenever it is programmed.
  int32_t corruptKeyOffset = -1;
};

struct BridgeChip {
  ChipConfig config;
  uint8_t flash[kFlashSize];
  uint8_t originalKeyArea[kKeyAreaSize];
  uint8_t registers[256][256]; // [bank][register] for registers without side effects
  uint8_t bank;
  bool hostAccess;
  // Flash controller state.
  bool writeEnable;
  bool programEnabled; // set by the configuration byte 0x51
  uint8_t fifo[kFifoSize];
  uint32_t fifoCount;
  uint8_t lastDataByte;
  uint32_t readPointer;
  uint64_t busyUntil; // simulated time until which the flash is busy after an erase
  // Statistics.
  uint32_t bytesProgrammed; // bytes the controller programmed (FIFO bytes executed)
  uint32_t erases;
  uint32_t highestProgrammed; // one past the highest address programmed from 0
};

// Simulated time in microseconds, shared by the bus, the chip and the host firmware's Stall.
extern uint64_t gSimNowMicros;

// Powers the chip on: old firmware at address 0, the chip's own key area at 0x6000.
void ChipPowerOn(BridgeChip &chip, const ChipConfig &config);
uint8_t ChipRead(BridgeChip &chip, uint8_t reg);
void ChipWrite(BridgeChip &chip, uint8_t reg, uint8_t value);
bool KeyAreaIntact(const BridgeChip &chip);

// CRC-32 (IEEE 802.3), for reports on flash contents.
uint32_t Crc32(const uint8_t *data, size_t length);

} // namespace sim

// Model of the display bridge chip behind the SMBus: register banks, identity and version
// registers, and the flash controller with a 64 KiB NOR flash. Freestanding: it is built into
// the host tests and into the emulator's SimChip.efi driver alike (no library, no static
// constructors; every global here is constant-initialised).
//
// The rules are strict on purpose: a missing or misplaced write in the tool's sequences must show
// up as wrong flash content, not only as a different trace.
//
// Registers (bank selected by register 0xFF, present in every bank):
//   0x80:0xEE   0x01 grants the host access; anything else takes it back. Identity, version and
//               flash controller effects happen only while access is granted; without it the
//               identity, version and 0x5F reads return 0x00.
//   0xA0:0x00/1 chip id, high then low (ChipConfig::idHigh/idLow).
//   0xD2:0x0C-E version CID, PID, Txx (ChipConfig::cid/pid/txx).
//   0x90:0x02   0xDF then 0xFF resets the flash controller: FIFO emptied, write-enable latch
//               cleared (the configuration stays).
//   0x80:0x5A   control: 0x86 sets the write-enable latch, 0x8A clears it; 0x83 erases the whole
//               block if the latch is set and the configuration allows it; 0xA2 empties the FIFO;
//               0x92 executes the mode held in 0x5E; other values (0x82) do nothing.
//   0x80:0x5E   mode for 0x92: 0xC0 configure (last 0x59 byte; 0x51 enables program and erase),
//               0xE0 program the FIFO at the address, 0x6F load the read pointer from the address.
//   0x80:0x5B-D flash address, bits 23-16, 15-8, 7-0.
//   0x80:0x59   appends a data byte to the FIFO (at most kFifoSize; more are dropped).
//   0x80:0x58   0x01 makes reads of 0x5F stream flash bytes from the read pointer (else 0x00).
//   0x80:0x5F   next flash byte (0xFF while the flash is busy), the pointer advances.
//   Every other register stores and returns what was written.
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

// Register banks and registers the model gives meaning to.
constexpr uint8_t kRegBankSelect = 0xFF;
constexpr uint8_t kBankControl = 0x80;
constexpr uint8_t kBankReset = 0x90;
constexpr uint8_t kBankIdentity = 0xA0;
constexpr uint8_t kBankVersion = 0xD2;
constexpr uint8_t kRegHostAccess = 0xEE;
constexpr uint8_t kRegControllerReset = 0x02;
constexpr uint8_t kRegReadMode = 0x58;
constexpr uint8_t kRegData = 0x59;
constexpr uint8_t kRegControl = 0x5A;
constexpr uint8_t kRegAddressHigh = 0x5B;
constexpr uint8_t kRegAddressMid = 0x5C;
constexpr uint8_t kRegAddressLow = 0x5D;
constexpr uint8_t kRegMode = 0x5E;
constexpr uint8_t kRegReadData = 0x5F;

// The firmware the chip carries at power-on: kOldImageLength bytes of a recognisable pattern at
// address 0 (see OldImageByte), the rest of the block erased apart from the key area.
constexpr uint32_t kOldImageLength = 0x4000;
static_assert(kOldImageLength <= kKeyAreaAddress, "the old image must not reach the key area");
static_assert(kKeyAreaAddress + kKeyAreaSize <= kFlashSize);

struct ChipConfig {
  uint8_t idHigh = 0x16;
  uint8_t idLow = 0x05;
  uint8_t cid = 2, pid = 6, txx = 12; // version registers of bank 0xD2
  uint32_t keySeed = 0x5EED;          // makes each simulated chip's key area its own
  bool blankKeyArea = false;          // a chip that never had a key area: erased from the factory
  bool ignoreWrites = false;          // a chip that ignores every register write
  // A flash byte that programs wrong: bits in stuckMask stay set at stuckAddress.
  int32_t stuckAddress = -1;
  uint8_t stuckMask = 0x01;
  // A key-area byte (offset in the key area) that is corrupted whenever it is programmed.
  int32_t corruptKeyOffset = -1;
  // A key area wiped to 0x00 (blankKeyArea wins). Last, so a chip store from a build without it
  // differs in size and is refused rather than read shifted.
  bool zeroedKeyArea = false;
};

// What the chip loses when its power goes, apart from the register file: each power-up starts
// from these values.
struct ChipPowerState {
  uint8_t bank{};
  bool hostAccess{};
  // Flash controller state.
  bool resetArmed{};     // bank 0x90 register 0x02 was last written 0xDF
  bool writeEnable{};    // the latch: set by 0x86, cleared only by 0x8A or a controller reset
  bool programEnabled{}; // set by the configuration byte 0x51
  uint8_t fifo[kFifoSize]{};
  uint32_t fifoCount{};
  uint8_t lastDataByte{};
  uint32_t readPointer{};
  uint64_t busyUntil{}; // simulated time until which the flash is busy after an erase
  // Statistics.
  uint32_t bytesProgrammed{}; // bytes the controller programmed (FIFO bytes executed)
  uint32_t programs{};        // program commands that took effect
  uint32_t erases{};
  // One past the highest byte of the run of programming that starts at address 0: a program that
  // begins at or below this mark extends it to its end. Pages written in order from 0 make it the
  // image's end rounded up to a page; the key area at 0x6000 does not count unless the run reaches
  // it. An erase puts it back to 0.
  uint32_t highestProgrammed{};
};

struct BridgeChip : ChipPowerState {
  ChipConfig config;
  uint8_t flash[kFlashSize]{};
  uint8_t originalKeyArea[kKeyAreaSize]{}; // the key area as it was at power-on
  uint8_t registers[256][256]{};           // [bank][register] as last written
};

// Simulated time in microseconds, shared by the bus, the chip and the host UEFI services' Stall.
extern uint64_t gSimNowMicros;

// Powers the chip on: old firmware at address 0, the chip's own key area at 0x6000, every
// register 0, no host access, controller idle and unconfigured, statistics 0.
void ChipPowerOn(BridgeChip &chip, const ChipConfig &config);
// Powers the chip off and on again: the flash (and the record of the factory key area) stays,
// registers, controller and statistics start over, as after ChipPowerOn.
void ChipPowerCycle(BridgeChip &chip);
uint8_t ChipRead(BridgeChip &chip, uint8_t reg);
void ChipWrite(BridgeChip &chip, uint8_t reg, uint8_t value);
bool KeyAreaIntact(const BridgeChip &chip);
// True while an erase keeps the flash busy (programs ignored, reads give 0xFF).
bool FlashBusy(const BridgeChip &chip);

// Byte `offset` of the power-on image: 0x02 first, then a fixed pattern with no 0xFF bytes.
uint8_t OldImageByte(uint32_t offset);
// Byte `offset` of the key area that a chip with `keySeed` carries from the factory; never 0xFF
// and never equal to the old image's byte at the same offset.
uint8_t FactoryKeyByte(uint32_t keySeed, uint32_t offset);

} // namespace sim

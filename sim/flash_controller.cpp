// The flash controller: write-enable latch, configuration, FIFO, block erase, page program and
// streamed reads over a NOR flash (erase sets 0xFF, programming can only clear bits).
#include "sim/flash_controller.h"

namespace sim {
namespace {

constexpr uint8_t kResetFirst = 0xDF;
constexpr uint8_t kResetSecond = 0xFF;

constexpr uint8_t kControlWriteEnable = 0x86;
constexpr uint8_t kControlWriteDisable = 0x8A;
constexpr uint8_t kControlErase = 0x83;
constexpr uint8_t kControlClearFifo = 0xA2;
constexpr uint8_t kControlExecute = 0x92;

constexpr uint8_t kModeConfigure = 0xC0;
constexpr uint8_t kModeProgram = 0xE0;
constexpr uint8_t kModeLoadReadPointer = 0x6F;

constexpr uint8_t kConfigEnableProgramErase = 0x51;

uint32_t Address(const BridgeChip &chip) {
  const uint8_t *r = chip.registers[kBankControl];
  return (static_cast<uint32_t>(r[kRegAddressHigh]) << 16) |
         (static_cast<uint32_t>(r[kRegAddressMid]) << 8) | r[kRegAddressLow];
}

void EraseBlock(BridgeChip &chip) {
  if (!chip.writeEnable || !chip.programEnabled || FlashBusy(chip))
    return;
  for (uint8_t &byte : chip.flash)
    byte = 0xFF;
  chip.busyUntil = gSimNowMicros + kEraseBusyMicros;
  chip.highestProgrammed = 0;
  ++chip.erases;
}

// The value a byte takes when `data` is programmed over it, with the configured faults.
uint8_t ProgrammedByte(const BridgeChip &chip, uint32_t address, uint8_t data) {
  const ChipConfig &c = chip.config;
  if (c.corruptKeyOffset >= 0 &&
      address == kKeyAreaAddress + static_cast<uint32_t>(c.corruptKeyOffset))
    data = static_cast<uint8_t>(data ^ 0x5A);
  if (c.stuckAddress >= 0 && address == static_cast<uint32_t>(c.stuckAddress))
    data = static_cast<uint8_t>(data | c.stuckMask);
  return static_cast<uint8_t>(chip.flash[address] & data);
}

// Programs the FIFO at the address registers. The latch is left set: the tool sets it once before
// the whole key area and programs eighteen pages under it, so a latch that cleared itself after
// each program (as many NOR parts do) would never let the key area back in.
void ProgramFifo(BridgeChip &chip) {
  if (!chip.writeEnable || !chip.programEnabled || FlashBusy(chip))
    return;
  uint32_t start = Address(chip);
  uint32_t end = start;
  for (uint32_t i = 0; i < chip.fifoCount; ++i) {
    uint32_t a = start + i;
    if (a >= kFlashSize)
      break; // beyond the block: nothing there to program
    chip.flash[a] = ProgrammedByte(chip, a, chip.fifo[i]);
    ++chip.bytesProgrammed;
    end = a + 1;
  }
  ++chip.programs;
  if (start <= chip.highestProgrammed && end > chip.highestProgrammed)
    chip.highestProgrammed = end;
}

void Execute(BridgeChip &chip) {
  switch (chip.registers[kBankControl][kRegMode]) {
  case kModeConfigure:
    chip.programEnabled = chip.lastDataByte == kConfigEnableProgramErase;
    break;
  case kModeProgram:
    ProgramFifo(chip);
    break;
  case kModeLoadReadPointer:
    chip.readPointer = Address(chip);
    break;
  default:
    break;
  }
}

void Control(BridgeChip &chip, uint8_t value) {
  switch (value) {
  case kControlWriteEnable:
    chip.writeEnable = true;
    break;
  case kControlWriteDisable:
    chip.writeEnable = false;
    break;
  case kControlErase:
    EraseBlock(chip);
    break;
  case kControlClearFifo:
    chip.fifoCount = 0;
    break;
  case kControlExecute:
    Execute(chip);
    break;
  default:
    break;
  }
}

} // namespace

bool FlashBusy(const BridgeChip &chip) {
  return gSimNowMicros < chip.busyUntil;
}

void ControllerReset(BridgeChip &chip) {
  chip.fifoCount = 0;
  for (uint8_t &byte : chip.fifo)
    byte = 0;
  chip.writeEnable = false;
}

void ControllerWrite(BridgeChip &chip, uint8_t reg, uint8_t value) {
  if (chip.bank == kBankReset && reg == kRegControllerReset) {
    if (chip.resetArmed && value == kResetSecond)
      ControllerReset(chip);
    chip.resetArmed = value == kResetFirst;
    return;
  }
  if (chip.bank != kBankControl)
    return;
  if (reg == kRegControl) {
    Control(chip, value);
  } else if (reg == kRegData) {
    chip.lastDataByte = value;
    if (chip.fifoCount < kFifoSize)
      chip.fifo[chip.fifoCount++] = value;
  }
}

uint8_t ControllerReadData(BridgeChip &chip) {
  if (chip.registers[kBankControl][kRegReadMode] != 0x01)
    return 0x00;
  uint32_t a = chip.readPointer;
  chip.readPointer = (a + 1) % kFlashSize;
  return FlashBusy(chip) ? 0xFF : chip.flash[a % kFlashSize];
}

} // namespace sim

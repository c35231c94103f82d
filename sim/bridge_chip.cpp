// Register banks, host access, identity and version registers, and power-on contents.
#include "sim/bridge_chip.h"

#include "sim/flash_controller.h"

namespace sim {

uint64_t gSimNowMicros = 0;

uint8_t OldImageByte(uint32_t offset) {
  if (offset == 0)
    return 0x02;
  // A byte pattern that is easy to spot in a dump and never reads as erased flash.
  uint8_t b = static_cast<uint8_t>((offset * 7u) ^ (offset >> 8) ^ 0x3Cu);
  return b == 0xFF ? 0x00 : b;
}

uint8_t FactoryKeyByte(uint32_t keySeed, uint32_t offset) {
  // A small integer hash of (seed, offset), so each seed gives its own key area.
  uint32_t x = keySeed * 0x9E3779B1u + offset * 0x85EBCA77u + 0x165667B1u;
  x ^= x >> 15;
  x *= 0x2C1B3C6Du;
  x ^= x >> 12;
  x *= 0x297A2D39u;
  x ^= x >> 15;
  uint8_t b = static_cast<uint8_t>(x);
  // Never erased-looking, and never what the old image holds at that offset.
  if (b == 0xFF)
    b = 0x5A;
  if (b == OldImageByte(offset))
    b = static_cast<uint8_t>(b ^ 0x81);
  return b == 0xFF ? 0x7E : b;
}

void ChipPowerOn(BridgeChip &chip, const ChipConfig &config) {
  chip.config = config;
  for (uint32_t a = 0; a < kFlashSize; ++a)
    chip.flash[a] = a < kOldImageLength ? OldImageByte(a) : 0xFF;
  for (uint32_t i = 0; i < kKeyAreaSize; ++i) {
    uint8_t b = config.blankKeyArea    ? 0xFF
                : config.zeroedKeyArea ? 0x00
                                       : FactoryKeyByte(config.keySeed, i);
    chip.flash[kKeyAreaAddress + i] = b;
    chip.originalKeyArea[i] = b;
  }
  ChipPowerCycle(chip);
}

void ChipPowerCycle(BridgeChip &chip) {
  for (auto &bank : chip.registers)
    for (uint8_t &value : bank)
      value = 0;
  static_cast<ChipPowerState &>(chip) = ChipPowerState{};
}

bool KeyAreaIntact(const BridgeChip &chip) {
  for (uint32_t i = 0; i < kKeyAreaSize; ++i)
    if (chip.flash[kKeyAreaAddress + i] != chip.originalKeyArea[i])
      return false;
  return true;
}

uint8_t ChipRead(BridgeChip &chip, uint8_t reg) {
  if (reg == kRegBankSelect)
    return chip.bank;
  bool gated = (chip.bank == kBankIdentity && reg <= 0x01) ||
               (chip.bank == kBankVersion && reg >= 0x0C && reg <= 0x0E) ||
               (chip.bank == kBankControl && reg == kRegReadData);
  if (gated && !chip.hostAccess)
    return 0x00;
  if (chip.bank == kBankIdentity && reg == 0x00)
    return chip.config.idHigh;
  if (chip.bank == kBankIdentity && reg == 0x01)
    return chip.config.idLow;
  if (chip.bank == kBankVersion && reg == 0x0C)
    return chip.config.cid;
  if (chip.bank == kBankVersion && reg == 0x0D)
    return chip.config.pid;
  if (chip.bank == kBankVersion && reg == 0x0E)
    return chip.config.txx;
  if (chip.bank == kBankControl && reg == kRegReadData)
    return ControllerReadData(chip);
  return chip.registers[chip.bank][reg];
}

void ChipWrite(BridgeChip &chip, uint8_t reg, uint8_t value) {
  if (chip.config.ignoreWrites)
    return;
  if (reg == kRegBankSelect) {
    chip.bank = value;
    return;
  }
  chip.registers[chip.bank][reg] = value;
  if (chip.bank == kBankControl && reg == kRegHostAccess) {
    chip.hostAccess = value == 0x01;
    return;
  }
  if (chip.hostAccess)
    ControllerWrite(chip, reg, value);
}

} // namespace sim

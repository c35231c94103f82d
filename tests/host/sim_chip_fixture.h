// Drives the bridge chip model register by register, as the tool's sequences drive it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "register_lists.h"
#include "sim/bridge_chip.h"

class ChipModel : public ::testing::Test {
protected:
  void SetUp() override {
    sim::gSimNowMicros = 1000;
    sim::ChipPowerOn(chip, sim::ChipConfig{});
  }
  void PowerOn(const sim::ChipConfig &config) { sim::ChipPowerOn(chip, config); }

  void W(uint8_t reg, uint8_t value) { sim::ChipWrite(chip, reg, value); }
  template <size_t N> void W(const ExpectedWrite (&list)[N]) {
    for (const ExpectedWrite &w : list)
      W(w.reg, w.value);
  }
  uint8_t R(uint8_t reg) { return sim::ChipRead(chip, reg); }
  void Bank(uint8_t bank) { W(0xFF, bank); }
  void Grant() { W(kTakeAccess); }
  void Revoke() { Bank(0x80), W(0xEE, 0x00); }
  void ResetController() { W(kControllerReset); }
  void Configure(uint8_t byte = 0x51) {
    Grant();
    for (const ExpectedWrite &w : kConfigure)
      W(w.reg, w.reg == 0x59 ? byte : w.value);
  }
  void Address(uint32_t a) { W(0x5B, a >> 16), W(0x5C, (a >> 8) & 0xFF), W(0x5D, a & 0xFF); }
  void SetLatch() { W(kSetLatch); }
  // The erase command alone, without the latch: callers decide about the latch.
  void EraseCommand() { Address(0), W(0x5A, 0x83), W(0x5A, 0x82); }
  static void WaitOutErase() { sim::gSimNowMicros += sim::kEraseBusyMicros; }
  void Fill(const std::vector<uint8_t> &data) {
    W(kProgramPageOpen);
    for (uint8_t b : data)
      W(0x59, b);
  }
  void ProgramCommand(uint32_t address) { Address(address), W(kProgramPageExecute); }
  void Program(uint32_t address, const std::vector<uint8_t> &data) {
    Fill(data);
    ProgramCommand(address);
  }
  std::vector<uint8_t> Read(uint32_t address, int count) {
    W(kReadPageOpen), Address(address), W(kReadPageStart);
    std::vector<uint8_t> out;
    out.reserve(count);
    for (int i = 0; i < count; ++i)
      out.push_back(R(0x5F));
    return out;
  }
  // Configured, latched, erased and out of the busy window: ready to program.
  void ErasedAndReady() {
    Configure();
    SetLatch();
    EraseCommand();
    WaitOutErase();
  }
  std::vector<uint8_t> Flash(uint32_t address, int count) {
    return std::vector<uint8_t>(chip.flash + address, chip.flash + address + count);
  }

  // ~128 KiB: kept off the stack.
  std::unique_ptr<sim::BridgeChip> owner = std::make_unique<sim::BridgeChip>();
  sim::BridgeChip &chip = *owner;
};

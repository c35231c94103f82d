// The bridge chip model: register banks and access gating, and the flash controller's NOR rules,
// driven register by register as the tool's sequences drive it.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/bridge_chip.h"

namespace {

using sim::BridgeChip;
using sim::ChipConfig;

class Chip : public ::testing::Test {
protected:
  void SetUp() override {
    sim::gSimNowMicros = 1000;
    ChipPowerOn(chip, ChipConfig{});
  }
  void PowerOn(const ChipConfig &config) { ChipPowerOn(chip, config); }

  void W(uint8_t reg, uint8_t value) { sim::ChipWrite(chip, reg, value); }
  uint8_t R(uint8_t reg) { return sim::ChipRead(chip, reg); }
  void Bank(uint8_t bank) { W(0xFF, bank); }
  void Grant() { Bank(0x80), W(0xEE, 0x01); }
  void Revoke() { Bank(0x80), W(0xEE, 0x00); }
  void Configure(uint8_t byte = 0x51) {
    Grant();
    W(0x5A, 0x82), W(0x5E, 0xC0), W(0x58, 0x00), W(0x59, byte), W(0x5A, 0x92), W(0x5A, 0x82);
  }
  void Address(uint32_t a) { W(0x5B, a >> 16), W(0x5C, (a >> 8) & 0xFF), W(0x5D, a & 0xFF); }
  void SetLatch() { W(0x5A, 0x86), W(0x5A, 0x82); }
  // The erase command alone, without the latch: callers decide about the latch.
  void EraseCommand() { Address(0), W(0x5A, 0x83), W(0x5A, 0x82); }
  static void WaitOutErase() { sim::gSimNowMicros += sim::kEraseBusyMicros; }
  void Fill(const std::vector<uint8_t> &data) {
    W(0x5E, 0xEF), W(0x5A, 0xA2), W(0x5A, 0x82), W(0x58, 0x01);
    for (uint8_t b : data)
      W(0x59, b);
  }
  void ProgramCommand(uint32_t address) {
    Address(address), W(0x5E, 0xE0), W(0x5A, 0x92), W(0x5A, 0x82);
  }
  void Program(uint32_t address, const std::vector<uint8_t> &data) {
    Fill(data);
    ProgramCommand(address);
  }
  std::vector<uint8_t> Read(uint32_t address, int count) {
    W(0x5E, 0x6F), W(0x5A, 0xA2), W(0x5A, 0x82), Address(address), W(0x5A, 0x92), W(0x5A, 0x82);
    W(0x58, 0x01);
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
  std::unique_ptr<BridgeChip> owner = std::make_unique<BridgeChip>();
  BridgeChip &chip = *owner;
};

TEST_F(Chip, PowersOnWithOldImageAndItsOwnKeyArea) {
  EXPECT_EQ(chip.flash[0], 0x02);
  for (uint32_t a = 0; a < sim::kOldImageLength; ++a)
    ASSERT_EQ(chip.flash[a], sim::OldImageByte(a)) << a;
  EXPECT_EQ(chip.flash[sim::kOldImageLength], 0xFF);
  EXPECT_EQ(chip.flash[0x5FFF], 0xFF);
  EXPECT_EQ(chip.flash[0x611E], 0xFF);
  EXPECT_EQ(chip.flash[0xFFFF], 0xFF);
  EXPECT_TRUE(KeyAreaIntact(chip));

  int erasedLooking = 0;
  int sameAsOldImage = 0;
  for (uint32_t i = 0; i < sim::kKeyAreaSize; ++i) {
    uint8_t b = chip.flash[0x6000 + i];
    EXPECT_EQ(chip.originalKeyArea[i], b);
    if (b == 0xFF)
      ++erasedLooking;
    if (b == sim::OldImageByte(i))
      ++sameAsOldImage;
  }
  EXPECT_EQ(erasedLooking, 0);
  EXPECT_EQ(sameAsOldImage, 0);

  std::vector<uint8_t> first = Flash(0x6000, sim::kKeyAreaSize);
  ChipConfig other;
  other.keySeed = 0x1234;
  PowerOn(other);
  EXPECT_NE(Flash(0x6000, sim::kKeyAreaSize), first) << "each seed must give its own key area";
  EXPECT_EQ(chip.flash[0], 0x02);
}

TEST_F(Chip, IdentityAndVersionReadOnlyWhileAccessGranted) {
  auto identity = [&] {
    Bank(0xA0);
    std::vector<uint8_t> v{R(0x00), R(0x01)};
    Bank(0xD2);
    v.insert(v.end(), {R(0x0C), R(0x0D), R(0x0E)});
    return v;
  };
  EXPECT_EQ(identity(), (std::vector<uint8_t>{0, 0, 0, 0, 0}));
  Grant();
  EXPECT_EQ(identity(), (std::vector<uint8_t>{0x16, 0x05, 2, 6, 12}));
  Revoke();
  EXPECT_EQ(identity(), (std::vector<uint8_t>{0, 0, 0, 0, 0}));

  ChipConfig other;
  other.idLow = 0x06;
  other.cid = 1, other.pid = 3, other.txx = 4;
  PowerOn(other);
  Grant();
  EXPECT_EQ(identity(), (std::vector<uint8_t>{0x16, 0x06, 1, 3, 4}));
  // Only 0x01 grants access.
  Bank(0x80), W(0xEE, 0x02);
  EXPECT_EQ(identity(), (std::vector<uint8_t>{0, 0, 0, 0, 0}));
}

TEST_F(Chip, BanksKeepTheirOwnPlainRegisters) {
  Bank(0x33), W(0x10, 0x77);
  Bank(0x34), W(0x10, 0x88);
  EXPECT_EQ(R(0xFF), 0x34);
  EXPECT_EQ(R(0x10), 0x88);
  Bank(0x33);
  EXPECT_EQ(R(0x10), 0x77);
  // The identity registers are not plain registers: a write does not change what they read.
  Grant(), Bank(0xA0), W(0x00, 0x99);
  EXPECT_EQ(R(0x00), 0x16);
}

TEST_F(Chip, EraseNeedsLatchConfigurationAndAccess) {
  // Latch but no configuration.
  Grant(), SetLatch(), EraseCommand();
  EXPECT_EQ(chip.erases, 0u);
  // Configuration with another byte than 0x51, then the last data byte rules.
  Configure(0x50), SetLatch(), EraseCommand();
  EXPECT_EQ(chip.erases, 0u);
  Grant(), W(0x59, 0x51), W(0x59, 0x52), W(0x5E, 0xC0), W(0x5A, 0x92);
  SetLatch(), EraseCommand();
  EXPECT_EQ(chip.erases, 0u);
  // Configured but no latch.
  Configure();
  W(0x5A, 0x8A);
  EraseCommand();
  EXPECT_EQ(chip.erases, 0u);
  // Configured and latched, but access taken back.
  SetLatch(), Revoke(), EraseCommand();
  EXPECT_EQ(chip.erases, 0u);
  EXPECT_EQ(chip.flash[0], 0x02);
  EXPECT_TRUE(KeyAreaIntact(chip));

  Grant(), EraseCommand();
  EXPECT_EQ(chip.erases, 1u);
  for (uint32_t a = 0; a < sim::kFlashSize; ++a)
    ASSERT_EQ(chip.flash[a], 0xFF) << a;
  EXPECT_FALSE(KeyAreaIntact(chip));
}

TEST_F(Chip, LatchClearedOnlyByWriteDisableOrControllerReset) {
  Configure();
  SetLatch(), W(0x5A, 0x8A), EraseCommand();
  EXPECT_EQ(chip.erases, 0u) << "0x8A clears the latch";

  SetLatch();
  Bank(0x90), W(0x02, 0xDF), W(0x02, 0xFF), Bank(0x80);
  EraseCommand();
  EXPECT_EQ(chip.erases, 0u) << "the controller reset clears the latch";

  SetLatch();
  Bank(0x90), W(0x02, 0xFF), Bank(0x80); // 0xFF alone is no reset
  EraseCommand();
  EXPECT_EQ(chip.erases, 1u);
  WaitOutErase();

  // One latch serves many programs, as the key-area writer needs.
  for (uint32_t page = 0; page < 3; ++page)
    Program(0x6000 + 16 * page, std::vector<uint8_t>(16, static_cast<uint8_t>(page)));
  EXPECT_EQ(Flash(0x6000, 1)[0], 0);
  EXPECT_EQ(Flash(0x6010, 1)[0], 1);
  EXPECT_EQ(Flash(0x6020, 16), std::vector<uint8_t>(16, 2));
}

TEST_F(Chip, ResetEmptiesTheFifoButKeepsTheConfiguration) {
  ErasedAndReady();
  Fill({1, 2, 3});
  Bank(0x90), W(0x02, 0xDF), W(0x02, 0xFF), Bank(0x80);
  SetLatch();
  W(0x59, 9);
  ProgramCommand(0x100);
  EXPECT_EQ(Flash(0x100, 2), (std::vector<uint8_t>{9, 0xFF}));
}

TEST_F(Chip, FlashIsBusyForOneSecondAfterErase) {
  Configure(), SetLatch();
  uint64_t erasedAt = sim::gSimNowMicros;
  EraseCommand();
  sim::gSimNowMicros = erasedAt + sim::kEraseBusyMicros - 1;
  EXPECT_TRUE(sim::FlashBusy(chip));
  Program(0, {0x00});
  EXPECT_EQ(chip.flash[0], 0xFF) << "programming while busy is ignored";
  EXPECT_EQ(chip.bytesProgrammed, 0u);
  chip.flash[0x10] = 0x12; // a byte that is not 0xFF, to tell a busy read from flash content
  EXPECT_EQ(Read(0x10, 1)[0], 0xFF);

  sim::gSimNowMicros = erasedAt + sim::kEraseBusyMicros;
  EXPECT_FALSE(sim::FlashBusy(chip));
  EXPECT_EQ(Read(0x10, 1)[0], 0x12);
  Program(0, {0x00});
  EXPECT_EQ(chip.flash[0], 0x00);
}

TEST_F(Chip, ProgrammingOnlyClearsBits) {
  ErasedAndReady();
  Program(0x20, {0xF0, 0x0F});
  Program(0x20, {0x3C, 0xFF});
  EXPECT_EQ(Flash(0x20, 3), (std::vector<uint8_t>{0x30, 0x0F, 0xFF}));

  // Without an erase, new data lands on top of the old image.
  PowerOn(ChipConfig{});
  Configure(), SetLatch();
  Program(0, {0xFF, 0x00});
  EXPECT_EQ(Flash(0, 2), (std::vector<uint8_t>{0x02, 0x00}));
}

TEST_F(Chip, ProgramNeedsLatchAndConfiguration) {
  Grant();
  Bank(0x80);
  Program(0x4000, {0x11}); // unconfigured, no latch
  Configure();
  Program(0x4000, {0x11}); // no latch
  EXPECT_EQ(chip.flash[0x4000], 0xFF);
  EXPECT_EQ(chip.bytesProgrammed, 0u);
  SetLatch();
  Program(0x4000, {0x11});
  EXPECT_EQ(chip.flash[0x4000], 0x11);
}

TEST_F(Chip, FifoHoldsSixteenBytesUntilCleared) {
  ErasedAndReady();
  std::vector<uint8_t> seventeen;
  for (uint8_t i = 0; i < 17; ++i)
    seventeen.push_back(static_cast<uint8_t>(0x40 + i));
  Program(0x1000, seventeen);
  EXPECT_EQ(Flash(0x1000, 16), std::vector<uint8_t>(seventeen.begin(), seventeen.begin() + 16));
  EXPECT_EQ(chip.flash[0x1010], 0xFF) << "the seventeenth byte is dropped";
  EXPECT_EQ(chip.lastDataByte, 0x50);
  EXPECT_EQ(chip.bytesProgrammed, 16u);

  // Without 0xA2 the FIFO still holds the old page and new bytes are dropped.
  W(0x59, 0x00);
  ProgramCommand(0x2000);
  EXPECT_EQ(Flash(0x2000, 2), (std::vector<uint8_t>{0x40, 0x41}));

  Program(0x3000, {0x01, 0x02});
  EXPECT_EQ(Flash(0x3000, 3), (std::vector<uint8_t>{0x01, 0x02, 0xFF}));
}

TEST_F(Chip, AddressIsTwentyFourBitsHighByteFirst) {
  ErasedAndReady();
  Program(0x001234, {0xAB});
  EXPECT_EQ(chip.flash[0x1234], 0xAB);
  EXPECT_EQ(chip.flash[0x3412], 0xFF);
  Program(0x01FFFF, {0x00}); // beyond the 64 KiB block: nothing there
  EXPECT_EQ(chip.flash[0xFFFF], 0xFF);
}

TEST_F(Chip, ReadPointerStreamsFlashBytes) {
  Configure();
  EXPECT_EQ(Read(0x6000, 4), Flash(0x6000, 4));
  EXPECT_EQ(R(0x5F), chip.flash[0x6004]) << "the pointer keeps advancing";
  W(0x58, 0x00);
  EXPECT_EQ(R(0x5F), 0x00) << "no streaming without 0x58 = 0x01";
  W(0x58, 0x01);
  EXPECT_EQ(R(0x5F), chip.flash[0x6005]);

  EXPECT_EQ(Read(0x110, 2), Flash(0x110, 2));
  Revoke();
  EXPECT_EQ(R(0x5F), 0x00);
  Grant();
  EXPECT_EQ(R(0x5F), chip.flash[0x112]) << "gated reads do not advance";
}

TEST_F(Chip, InjectedFlashFaults) {
  ChipConfig c;
  c.stuckAddress = 0x0105;
  c.stuckMask = 0x81;
  c.corruptKeyOffset = 7;
  PowerOn(c);
  ErasedAndReady();
  Program(0x0100, std::vector<uint8_t>(16, 0x00));
  EXPECT_EQ(chip.flash[0x0104], 0x00);
  EXPECT_EQ(chip.flash[0x0105], 0x81);
  Program(0x6000, std::vector<uint8_t>(chip.originalKeyArea, chip.originalKeyArea + 16));
  EXPECT_EQ(chip.flash[0x6006], chip.originalKeyArea[6]);
  EXPECT_EQ(chip.flash[0x6007], chip.originalKeyArea[7] ^ 0x5A);
}

TEST_F(Chip, IgnoringChipKeepsEverything) {
  ChipConfig c;
  c.ignoreWrites = true;
  PowerOn(c);
  ErasedAndReady();
  Program(0, {0x00});
  EXPECT_EQ(chip.bank, 0);
  EXPECT_FALSE(chip.hostAccess);
  EXPECT_EQ(chip.erases, 0u);
  EXPECT_EQ(chip.flash[0], 0x02);
  EXPECT_TRUE(KeyAreaIntact(chip));
}

TEST_F(Chip, ProgramStatistics) {
  ErasedAndReady();
  for (uint32_t page = 0; page < 3; ++page)
    Program(16 * page, std::vector<uint8_t>(16, 0x00));
  Program(0x6000, std::vector<uint8_t>(14, 0x00));
  EXPECT_EQ(chip.bytesProgrammed, 3u * 16 + 14);
  EXPECT_EQ(chip.programs, 4u);
  EXPECT_EQ(chip.highestProgrammed, 48u) << "the key area is not part of the run from 0";
  Program(0x28, std::vector<uint8_t>(16, 0x00)); // overlapping the end extends it
  EXPECT_EQ(chip.highestProgrammed, 0x38u);
}

TEST(Crc32, MatchesTheStandardCheckValue) {
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(sim::Crc32(check, sizeof check), 0xCBF43926u);
  EXPECT_EQ(sim::Crc32(check, 0), 0u);
}

} // namespace

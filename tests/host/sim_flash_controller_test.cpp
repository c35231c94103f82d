// The chip model's flash controller: its NOR rules, the latch, the FIFO, the address and the
// read pointer, driven as the tool's sequences drive them.
#include <gtest/gtest.h>

#include "sim_chip_fixture.h"

namespace {

using sim::ChipConfig;

TEST_F(ChipModel, EraseNeedsLatchConfigurationAndAccess) {
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

TEST_F(ChipModel, LatchClearedOnlyByWriteDisableOrControllerReset) {
  Configure();
  SetLatch(), W(0x5A, 0x8A), EraseCommand();
  EXPECT_EQ(chip.erases, 0u) << "0x8A clears the latch";

  SetLatch();
  ResetController();
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

TEST_F(ChipModel, ResetEmptiesTheFifoButKeepsTheConfiguration) {
  ErasedAndReady();
  Fill({1, 2, 3});
  ResetController();
  SetLatch();
  W(0x59, 9);
  ProgramCommand(0x100);
  EXPECT_EQ(Flash(0x100, 2), (std::vector<uint8_t>{9, 0xFF}));
}

TEST_F(ChipModel, FlashIsBusyForOneSecondAfterErase) {
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

TEST_F(ChipModel, ProgrammingOnlyClearsBits) {
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

TEST_F(ChipModel, ProgramNeedsLatchAndConfiguration) {
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

TEST_F(ChipModel, FifoHoldsSixteenBytesUntilCleared) {
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

TEST_F(ChipModel, AddressIsTwentyFourBitsHighByteFirst) {
  ErasedAndReady();
  Program(0x001234, {0xAB});
  EXPECT_EQ(chip.flash[0x1234], 0xAB);
  EXPECT_EQ(chip.flash[0x3412], 0xFF);
  Program(0x01FFFF, {0x00}); // beyond the 64 KiB block: nothing there
  EXPECT_EQ(chip.flash[0xFFFF], 0xFF);
}

TEST_F(ChipModel, ReadPointerStreamsFlashBytes) {
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

} // namespace

// The bridge chip model: power-on contents, register banks and access gating, injected faults
// and statistics.
#include <gtest/gtest.h>

#include "catalogue/crc32.h"
#include "sim_chip_fixture.h"

namespace {

using sim::ChipConfig;

TEST_F(ChipModel, PowersOnWithOldImageAndItsOwnKeyArea) {
  EXPECT_EQ(chip.flash[0], 0x02);
  for (uint32_t a = 0; a < sim::kOldImageLength; ++a)
    ASSERT_EQ(chip.flash[a], sim::OldImageByte(a)) << a;
  EXPECT_EQ(chip.flash[sim::kOldImageLength], 0xFF);
  EXPECT_EQ(chip.flash[0x5FFF], 0xFF);
  EXPECT_EQ(chip.flash[0x611E], 0xFF);
  EXPECT_EQ(chip.flash[0xFFFF], 0xFF);

  int erasedLooking = 0;
  int sameAsOldImage = 0;
  for (uint32_t i = 0; i < sim::kKeyAreaSize; ++i) {
    uint8_t b = chip.flash[0x6000 + i];
    EXPECT_EQ(b, sim::FactoryKeyByte(0x5EED, i)) << "the default seed's key at 0x6000, " << i;
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

TEST_F(ChipModel, IdentityAndVersionReadOnlyWhileAccessGranted) {
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

TEST_F(ChipModel, BanksKeepTheirOwnPlainRegisters) {
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

TEST_F(ChipModel, InjectedFlashFaults) {
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

TEST_F(ChipModel, IgnoringChipKeepsEverything) {
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

TEST_F(ChipModel, ProgramStatistics) {
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
  EXPECT_EQ(Crc32(check, sizeof check), 0xCBF43926u);
  EXPECT_EQ(Crc32(check, 0), 0u);
}

} // namespace

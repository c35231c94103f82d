// The selection rule, the table itself and the CMOS port protocol; the /g list is stated whole
// in command_sequence_test.
#include <gtest/gtest.h>

#include <vector>

#include "catalogue/catalogue.h"
#include "platform/cmos.h"
#include "records.h"
#include "sim/host/host_platform.h"
#include "uefi/services.h"

namespace {

TEST(SelectEntry, MatchesOrFallsBackToTheStartEntry) {
  struct Case {
    uint8_t cid, pid, index;
  };
  const Case cases[] = {{2, 6, 6}, {1, 1, 0}, {2, 8, 8},    {3, 1, 4},
                        {1, 2, 4}, {0, 0, 4}, {255, 255, 4}};
  for (const Case &c : cases) {
    ResetCatalogueSelection();
    EXPECT_EQ(SelectEntry(c.cid, c.pid), c.index) << int(c.cid) << " " << int(c.pid);
    EXPECT_EQ(SelectedEntryIndex, c.index);
  }
  ResetCatalogueSelection();
  SelectEntry(3, 1);
  FirmwareVersion v = EntryVersion(SelectedEntry());
  EXPECT_EQ(v.cid, 2);
  EXPECT_EQ(v.pid, 4);
  EXPECT_EQ(v.txx, 10);
}

TEST(Catalogue, TableHoldsDistinctPairsAndImagesBeginningWithTwo) {
  for (int i = 0; i < kCatalogueEntryCount; ++i) {
    EXPECT_EQ(FirmwareCatalogue[i].image[0], 0x02) << i;
    EXPECT_EQ(FirmwareCatalogue[i].model[kModelChars - 1], 0) << i;
    for (int j = i + 1; j < kCatalogueEntryCount; ++j)
      EXPECT_FALSE(FirmwareCatalogue[i].cid == FirmwareCatalogue[j].cid &&
                   FirmwareCatalogue[i].pid == FirmwareCatalogue[j].pid);
  }
}

// A copy of the tool with one bit flipped in an image (a bad USB stick) must never reach the
// chip: each entry as built is intact, and a copy of it whose image differs in one bit of its
// first, middle or last byte is not.
TEST(Catalogue, ImageIntactOnlyWithEveryBitAsBuilt) {
  for (int i = 0; i < kCatalogueEntryCount; ++i) {
    const CatalogueEntry &built = FirmwareCatalogue[i];
    EXPECT_TRUE(ImageIntact(built)) << i;
    for (uint32_t at : {0u, built.length / 2u, built.length - 1u}) {
      std::vector<uint8_t> bytes(built.image, built.image + built.length);
      bytes[at] ^= static_cast<uint8_t>(1u << (at % 8));
      CatalogueEntry copy = built;
      copy.image = bytes.data();
      EXPECT_FALSE(ImageIntact(copy)) << "entry " << i << ", byte " << at;
    }
  }
}

TEST(Cmos, PortAccessesAreExactlyTheMailboxProtocol) {
  sim::HostPlatform p;
  using A = sim::PortAccess;
  PublishVersion(FirmwareVersion{2, 6, 19});
  std::vector<A> expected = {
      {0x70, true, 0x70}, {0x71, true, 0x02}, {0x70, true, 0x70}, {0x71, false, 0x02},
      {0x70, true, 0x71}, {0x71, true, 0x06}, {0x70, true, 0x71}, {0x71, false, 0x06},
      {0x70, true, 0x72}, {0x71, true, 0x13}, {0x70, true, 0x72}, {0x71, false, 0x13},
  };
  EXPECT_EQ(p.Recorded<sim::PortAccess>(), expected);
  EXPECT_EQ(p.Cmos(0x70), 2);
  EXPECT_EQ(p.Cmos(0x71), 6);
  EXPECT_EQ(p.Cmos(0x72), 19);

  SetUpdateStatus(0xF4);
  SendEcCommand(0x8B);
  EXPECT_EQ(p.Cmos(0x79), 0xF4);
  EXPECT_EQ(p.EcBytes(), std::vector<uint8_t>{0x8B});
  EXPECT_EQ(p.Recorded<sim::PortAccess>().back(), (A{0x66, true, 0x8B}));
  EXPECT_EQ(ReadCmos(0x79), 0xF4);
}

} // namespace

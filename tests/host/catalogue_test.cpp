// Selection rule, the CMOS port protocol and the /g list.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "platform/cmos.h"
#include "records.h"
#include "sim/host/host_platform.h"
#include "uefi/firmware.h"

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
    EXPECT_LT(FirmwareCatalogue[i].length, 0x6000) << i;
    EXPECT_EQ(FirmwareCatalogue[i].model[kModelChars - 1], 0) << i;
    for (int j = i + 1; j < kCatalogueEntryCount; ++j)
      EXPECT_FALSE(FirmwareCatalogue[i].cid == FirmwareCatalogue[j].cid &&
                   FirmwareCatalogue[i].pid == FirmwareCatalogue[j].pid);
  }
  EXPECT_EQ(FirmwareCatalogue[2].size, 4);
  EXPECT_EQ(FirmwareCatalogue[1].length, 17381);
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
  EXPECT_EQ(EcBytes(p), std::vector<uint8_t>{0x8B});
  EXPECT_EQ(p.Recorded<sim::PortAccess>().back(), (A{0x66, true, 0x8B}));
  EXPECT_EQ(ReadCmos(0x79), 0xF4);
}

const char *kHeader[] = {
    " ------------------- LT7911D FW support List -------------------",
    "  Index | CID   PID   Txx  |   Size      Model",
    " ---------------------------------------------------------------",
};

std::vector<std::string> ListRows(const sim::HostPlatform &p) {
  // The list starts on the row after the banner; rows are trimmed of trailing spaces.
  std::vector<std::string> rows;
  rows.reserve(sim::kScreenRows);
  for (int r = 0; r < sim::kScreenRows; ++r)
    rows.push_back(p.RowText(r));
  auto first = std::find(rows.begin(), rows.end(), kHeader[0]);
  EXPECT_NE(first, rows.end());
  rows.erase(rows.begin(), first);
  while (!rows.empty() && rows.back().empty())
    rows.pop_back();
  return rows;
}

std::vector<std::string> Expected(std::vector<std::string> rows) {
  std::vector<std::string> out(std::begin(kHeader), std::end(kHeader));
  out.insert(out.end(), rows.begin(), rows.end());
  out.emplace_back(" ---------------------------------------------------------------");
  return out;
}

TEST(SupportList, ShowsEntriesOfTheCmosCidAndMarksTheCmosPid) {
  sim::HostPlatform p;
  p.SetCmos(0x70, 2);
  p.SetCmos(0x71, 6);
  EXPECT_EQ(p.Run({"Panelup.efi", "/g"}), 21);
  EXPECT_EQ(ListRows(p), Expected({
                             "    01  |  02    04    10  |  7 inch     GV070WUM-L51",
                             "    02  |  02    05    12  |  7 inch     BW7002A",
                             "  * 03  |  02    06    19  |  7 inch     H070BWX002",
                             "    04  |  02    07    12  |  8 inch     BW080FH-39B",
                             "    05  |  02    08    04  |  8 inch     XF080J02A-N008",
                         }));
  EXPECT_TRUE(p.PoolBalanced());
  EXPECT_TRUE(p.Recorded<sim::Transaction>().empty()) << "the list never touches the chip";
}

TEST(SupportList, UnmarkedAndEmptyLists) {
  sim::HostPlatform p;
  p.SetCmos(0x70, 1);
  p.SetCmos(0x71, 9);
  EXPECT_EQ(p.Run({"Panelup.efi", "/G"}), 21);
  EXPECT_EQ(ListRows(p), Expected({
                             "    01  |  01    01    19  |  7 inch     FRD700H31018-A",
                             "    02  |  01    03    04  |  7 inch     W0700H82LS-D",
                             "    03  |  01    04    08  |  4 inch     W0550U99GE-D",
                             "    04  |  01    05    07  |  7 inch     W0700UA2GS-D",
                         }));
  p.SetCmos(0x70, 7);
  EXPECT_EQ(p.Run({"Panelup.efi", "/g"}), 21);
  EXPECT_EQ(ListRows(p), Expected({}));
}

TEST(SupportList, AccessCodeListsEveryEntry) {
  sim::HostPlatform p;
  p.SetCmos(0x70, 2);
  p.SetCmos(0x71, 4);
  EXPECT_EQ(p.Run({"Panelup.efi", "/g", "20220909042trailing"}), 30);
  std::vector<std::string> rows = ListRows(p);
  ASSERT_EQ(rows.size(), 3u + 9u + 1u);
  EXPECT_EQ(rows[3], "    01  |  01    01    19  |  7 inch     FRD700H31018-A");
  EXPECT_EQ(rows[7], "  * 05  |  02    04    10  |  7 inch     GV070WUM-L51");
  EXPECT_EQ(rows[11], "    09  |  02    08    04  |  8 inch     XF080J02A-N008");
  EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](auto &r) { return r.find('*') != r.npos; }),
            1);

  EXPECT_EQ(p.Run({"Panelup.efi", "/g", "2022090904"}), 31);
  EXPECT_EQ(p.OutputText().find("support List"), std::string::npos);
}

} // namespace

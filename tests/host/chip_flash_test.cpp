// The flash routines page by page: each page's address and data, the fill of a short page, where
// the per-page hook comes. Set-up sequences and whole routines are in the whole runs of
// update_sequence_test.
#include <gtest/gtest.h>

#include "chip/flash.h"
#include "chip/registers.h"
#include "sim/host/host_platform.h"
#include "records.h"
#include "register_lists.h"
#include "uefi/services.h"

namespace {

template <size_t N> std::vector<Step> Writes(const ExpectedWrite (&list)[N]) {
  std::vector<Step> out;
  for (const ExpectedWrite &w : list)
    out.push_back({'W', w.reg, w.value});
  return out;
}

const std::vector<Step> kPreamble = Writes(kFlashPreamble);
const std::vector<Step> kPostamble = Writes(kFlashPostamble);

std::vector<Step> Address(uint32_t a) {
  return {{'W', 0x5B, int(a >> 16)}, {'W', 0x5C, int((a >> 8) & 0xFF)}, {'W', 0x5D, int(a & 0xFF)}};
}

std::vector<Step> ReadPageList(uint32_t address, int count) {
  return Concat(
      {Writes(kReadPageOpen), Address(address), Writes(kReadPageStart), Reads(0x5F, count)});
}

std::vector<Step> ProgramPageList(bool firmware, const std::vector<uint8_t> &data,
                                  uint32_t address) {
  std::vector<Step> out = firmware ? Writes(kSetLatch) : std::vector<Step>{};
  out = Concat({out, Writes(kProgramPageOpen)});
  for (uint8_t b : data)
    out.push_back({'W', 0x59, b});
  return Concat({out, Address(address), Writes(kProgramPageExecute)});
}

std::vector<std::pair<uint16_t, uint16_t>> gPagesLoaded;
std::vector<size_t> gStepsAtHook;
sim::HostPlatform *gPlatform = nullptr;

void NotePageLoaded(uint16_t page, uint16_t pages) {
  gPagesLoaded.emplace_back(page, pages);
  gStepsAtHook.push_back(gPlatform->Recorded<sim::Transaction>().size());
}

// A platform with the tool attached to it, as after a successful bus search.
// Where the sequences read to and write from: the update's buffers in a run.
uint8_t gKeyArea[kHdcpKeySize];
uint8_t gReadBack[kReadBackBufferSize];

class ChipFlash : public ::testing::Test {
protected:
  void SetUp() override {
    gPlatform = &platform;
    SetSystemTable(platform.SystemTable());
    ResetChipBus();
    ASSERT_EQ(LocateChipBus(), EFI_SUCCESS);
  }
  void TearDown() override { ReleaseChipBus(); }
  std::vector<Step> Issued() {
    std::vector<Step> out = Steps(platform, mark);
    mark += out.size();
    return out;
  }
  sim::HostPlatform platform;
  size_t mark = 0;
};

TEST_F(ChipFlash, KeyAreaSaveReadsEighteenPagesEndingShort) {
  SaveHdcpKeyFromFlash(gKeyArea);
  std::vector<Step> expected = kPreamble;
  for (int p = 0; p < 18; ++p) {
    uint32_t a = 0x6000 + 16 * p;
    expected = Concat({expected, ReadPageList(a, p == 17 ? 14 : 16)});
  }
  expected = Concat({expected, kPostamble});
  EXPECT_EQ(Issued(), expected);
  for (uint32_t i = 0; i < 286; ++i)
    ASSERT_EQ(gKeyArea[i], platform.Chip().originalKeyArea[i]) << i;
}

TEST_F(ChipFlash, KeyAreaWriteSetsTheLatchOnceAndFillsTheShortPage) {
  for (int i = 0; i < 286; ++i)
    gKeyArea[i] = static_cast<uint8_t>(i * 7);
  WriteHdcpKeyToFlash(gKeyArea);
  std::vector<Step> issued = Issued();
  ASSERT_EQ(issued.size(), 8u + 18u * 26u + 2u);
  constexpr std::ptrdiff_t kPageWrites = 26; // 4 to open the page, 16 bytes, 6 to program it
  std::vector<Step> first(issued.begin() + 8, issued.begin() + 8 + kPageWrites);
  std::vector<uint8_t> data0;
  data0.reserve(16);
  for (int i = 0; i < 16; ++i)
    data0.push_back(static_cast<uint8_t>(i * 7));
  EXPECT_EQ(first, ProgramPageList(false, data0, 0x6000));
  std::vector<Step> last(issued.begin() + 8 + 17 * kPageWrites,
                         issued.begin() + 8 + 18 * kPageWrites);
  std::vector<uint8_t> data17;
  for (int i = 272; i < 286; ++i)
    data17.push_back(static_cast<uint8_t>(i * 7));
  data17.push_back(0xFF);
  data17.push_back(0xFF);
  EXPECT_EQ(last, ProgramPageList(false, data17, 0x6110));
}

TEST_F(ChipFlash, FirmwareWriteProgramsEveryPageWithProgress) {
  // 37 bytes: two full pages and a five-byte last page.
  std::vector<uint8_t> image(37);
  for (size_t i = 0; i < image.size(); ++i)
    image[i] = static_cast<uint8_t>(0x40 + i);
  gPagesLoaded.clear();
  WriteFirmwareToFlash(image.data(), static_cast<uint16_t>(image.size()), NotePageLoaded);
  std::vector<Step> issued = Issued();
  ASSERT_EQ(issued.size(), 8u + 3u * 28u + 2u);
  auto page = [&](std::ptrdiff_t p) {
    return std::vector<Step>(issued.begin() + 8 + 28 * p, issued.begin() + 8 + 28 * (p + 1));
  };
  EXPECT_EQ(page(0), ProgramPageList(true, {image.begin(), image.begin() + 16}, 0));
  EXPECT_EQ(page(1), ProgramPageList(true, {image.begin() + 16, image.begin() + 32}, 0x10));
  std::vector<uint8_t> last(image.begin() + 32, image.end());
  last.resize(16, 0xFF);
  EXPECT_EQ(page(2), ProgramPageList(true, last, 0x20));
  EXPECT_EQ(std::vector<Step>(issued.end() - 2, issued.end()), kPostamble);

  // The hook comes once per page, with the data in and the address not yet written.
  EXPECT_EQ(gPagesLoaded, (std::vector<std::pair<uint16_t, uint16_t>>{{0, 3}, {1, 3}, {2, 3}}));
  EXPECT_EQ(gStepsAtHook, (std::vector<size_t>{8 + 22, 8 + 28 + 22, 8 + 56 + 22}));
}

TEST_F(ChipFlash, FirmwareReadBackReadsTheShortLastPageOnly) {
  ReadFirmwareFromFlash(17381, gReadBack);
  std::vector<Step> issued = Issued();
  // 1086 full pages and one of 5 bytes at 0x43E0.
  ASSERT_EQ(issued.size(), 8u + 1087u * 9u + 1086u * 16u + 5u + 2u);
  std::vector<Step> tail(issued.end() - 2 - 14, issued.end() - 2);
  EXPECT_EQ(tail, ReadPageList(0x43E0, 5));
  for (uint32_t i = 0; i < 17381; ++i)
    ASSERT_EQ(gReadBack[i], platform.Chip().flash[i]) << i;
}

TEST_F(ChipFlash, PageAddressesAboveSixtyFourKilobytesUseTheHighByte) {
  uint8_t data[16] = {};
  ProgramPage(0x012340, data, PageForm::Firmware);
  std::vector<Step> issued = Issued();
  EXPECT_EQ(issued[22], (Step{'W', 0x5B, 0x01}));
  EXPECT_EQ(issued[23], (Step{'W', 0x5C, 0x23}));
  EXPECT_EQ(issued[24], (Step{'W', 0x5D, 0x40}));
}

} // namespace

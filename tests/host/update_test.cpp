// Whole /f runs on the simulated platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "catalogue/catalogue.h"
#include "records.h"
#include "sim/host/host_platform.h"
#include "sim/host/text.h"

namespace {

bool FlashHolds(sim::HostPlatform &p, int entry) {
  const CatalogueEntry &e = FirmwareCatalogue[entry];
  return std::memcmp(p.Chip().flash, e.image, e.length) == 0;
}

bool Contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// Values written to CMOS byte 0x79, in order.
std::vector<uint8_t> StatusCodes(const sim::HostPlatform &p) {
  std::vector<uint8_t> codes;
  const auto &log = p.Recorded<sim::PortAccess>();
  for (size_t i = 0; i + 1 < log.size(); ++i)
    if (log[i].port == 0x70 && log[i].write && log[i].value == 0x79 && log[i + 1].port == 0x71 &&
        log[i + 1].write)
      codes.push_back(log[i + 1].value);
  return codes;
}

std::vector<std::string> ProgressValues(const sim::HostPlatform &p) {
  std::vector<std::string> values;
  for (const sim::ConsoleCall &c : ConsoleCalls(p, sim::ConsoleOp::OutputString)) {
    std::string s = sim::Narrow(c.text);
    const std::string prefix = " VTQ_002E  =====Updating LT7911D  ";
    if (s.rfind(prefix, 0) == 0)
      values.push_back(s.substr(prefix.size(), s.find(' ', prefix.size()) - prefix.size()));
  }
  return values;
}

TEST(Update, FlashesTheRequestedImageAndKeepsTheKeyArea) {
  sim::HostPlatform p;
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 0);
  const std::string out = p.OutputText();
  const char *steps[] = {
      "VTQ_001 LT7911D FW [ CID_PID_Txx ] flash from [ 02.06.12 ] to [ 02.06.19 ]",
      "VTQ_001   Read chipid PASS",
      "VTQ_002A  ConfigPara",
      "VTQ_002B  SaveHdcpKeyFromFlash",
      "VTQ_002C  BlockErase",
      "VTQ_002D  WriteFirmwareToFlash",
      "VTQ_002F  WriteHdcpKeyToFlash",
      "VTQ_002G  ReadFirmwareFromFlash",
      "VTQ_002H  ReadHdcpKeyFromFlash",
      "VTQ_002I  Comparing...",
      "VTQ_005A Compare",
      "VTQ_005C Compare  pass!",
      "VTQ_002J  upgrade success",
      "================PASS================n",
      "Please shutdown you system and power On again"};
  size_t at = 0;
  for (const char *step : steps) {
    size_t found = out.find(step, at);
    ASSERT_NE(found, std::string::npos) << "missing or out of order: " << step;
    at = found;
  }
  EXPECT_EQ(p.RowText(7), " VTQ_002E  =====Updating LT7911D  100 % percent =====");
  EXPECT_TRUE(FlashHolds(p, 6));
  EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
  EXPECT_EQ(p.Chip().erases, 1u);
  EXPECT_EQ(p.Cmos(0x70), 2);
  EXPECT_EQ(p.Cmos(0x71), 6);
  EXPECT_EQ(p.Cmos(0x72), 19);
  EXPECT_EQ(p.Cmos(0x79), 0xFF);
  EXPECT_EQ(StatusCodes(p), (std::vector<uint8_t>{0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF0, 0xFF}));
  EXPECT_EQ(EcBytes(p), (std::vector<uint8_t>{0x8B, 0x8A}));
  EXPECT_EQ(Stalls(p), (std::vector<uint64_t>{1000000, 500000, 10000, 100000, 1000000}));
  // Success is green, then the front end restores white; the cursor stays hidden.
  EXPECT_EQ(Attributes(p), (std::vector<uint64_t>{0x0F, 0x0A, 0x0F}));
  EXPECT_FALSE((p.Mode().CursorVisible != 0));
  EXPECT_TRUE(p.PoolBalanced());
}

TEST(Update, ProgressCountsPagesOfTheLongestImage) {
  sim::HostPlatform p;
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "1", "3"}), 0);
  std::vector<std::string> progress = ProgressValues(p);
  ASSERT_EQ(progress.size(), 1087u);
  EXPECT_EQ(progress[0], "0");
  EXPECT_EQ(progress[9], "0");
  EXPECT_EQ(progress[10], "1");
  EXPECT_EQ(progress[1086], "100");
  EXPECT_TRUE(FlashHolds(p, 1));
  EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
}

TEST(Update, WrongChipIdStopsBeforeTheErase) {
  sim::HostOptions o;
  o.chip.idLow = 0x06;
  sim::HostPlatform p(o);
  uint8_t before[0x100];
  std::memcpy(before, p.Chip().flash, sizeof before);
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 255);
  EXPECT_TRUE(Contains(p.OutputText(),
                       "VTQ_001   Read chipid fail(chipid[1606] !=0x1605),please check hardware"));
  EXPECT_TRUE(Contains(p.OutputText(), "VTQ_002L  the chip offline"));
  EXPECT_EQ(StatusCodes(p), std::vector<uint8_t>{0xF9});
  EXPECT_EQ(EcBytes(p), std::vector<uint8_t>{0x8B});
  EXPECT_EQ(p.Chip().erases, 0u);
  EXPECT_EQ(std::memcmp(before, p.Chip().flash, sizeof before), 0);
  // The on-board version was published before the id check.
  EXPECT_EQ(p.Cmos(0x70), 2);
  EXPECT_EQ(p.Cmos(0x72), 12);
  EXPECT_TRUE(p.PoolBalanced());
}

TEST(Update, FirstDifferingFirmwareByteFailsTheUpdate) {
  sim::HostOptions o;
  const uint8_t imageByte = FirmwareCatalogue[6].image[0x0123];
  ASSERT_NE(imageByte, 0xFF);
  o.chip.stuckAddress = 0x0123;
  o.chip.stuckMask = static_cast<uint8_t>(~imageByte);
  sim::HostPlatform p(o);
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 248);
  char line[128];
  std::snprintf(line, sizeof line,
                "VTQ_005B Compare ReadFirmware[0123]=[ 00FF]   != OriFW[0123]=[ %04X]  fail",
                imageByte);
  EXPECT_TRUE(Contains(p.OutputText(), line)) << p.OutputText();
  EXPECT_FALSE(Contains(p.OutputText(), "upgrade success"));
  EXPECT_TRUE(Contains(p.OutputText(), "VTQ_002J  upgrade Fail"));
  EXPECT_EQ(StatusCodes(p), (std::vector<uint8_t>{0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xFF}));
  EXPECT_EQ(EcBytes(p), (std::vector<uint8_t>{0x8B, 0x8C}));
  EXPECT_EQ(Attributes(p), (std::vector<uint64_t>{0x0F, 0x0C, 0x0F}));
  // CMOS goes back to the version found before the update.
  EXPECT_EQ(p.Cmos(0x70), 2);
  EXPECT_EQ(p.Cmos(0x71), 6);
  EXPECT_EQ(p.Cmos(0x72), 12);
  EXPECT_TRUE(p.PoolBalanced());
}

TEST(Update, KeyAreaThatDoesNotReadBackFailsTheUpdate) {
  sim::HostOptions o;
  o.chip.corruptKeyOffset = 5;
  sim::HostPlatform p(o);
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 248);
  EXPECT_TRUE(Contains(p.OutputText(), "VTQ_005B Compare ReadHdcpKey[0005]=[ ")) << p.OutputText();
  EXPECT_TRUE(Contains(p.OutputText(), "   != HdcpKey[0005]=[ "));
  EXPECT_FALSE(Contains(p.OutputText(), "upgrade success"));
  EXPECT_TRUE(FlashHolds(p, 6)) << "the firmware itself was written";
  EXPECT_EQ(EcBytes(p), (std::vector<uint8_t>{0x8B, 0x8C}));
  EXPECT_EQ(p.Cmos(0x72), 12);
}

TEST(Update, BusFailingMidwayIsNeverASuccess) {
  uint64_t total = 0;
  {
    sim::HostPlatform clean;
    ASSERT_EQ(clean.Run({"Panelup.efi", "/f", "2", "6"}), 0);
    total = clean.Recorded<sim::Transaction>().size();
  }
  // From the erase on, at tenths of the run: firmware write, key write-back, read-backs.
  for (uint64_t tenth = 1; tenth < 10; ++tenth) {
    sim::HostOptions o;
    o.faults.failFrom = total * tenth / 10;
    sim::HostPlatform p(o);
    int64_t status = p.Run({"Panelup.efi", "/f", "2", "6"});
    EXPECT_EQ(status, 248) << o.faults.failFrom;
    EXPECT_FALSE(Contains(p.OutputText(), "upgrade success")) << o.faults.failFrom;
    EXPECT_EQ(EcBytes(p).back(), 0x8C) << o.faults.failFrom;
    EXPECT_TRUE(p.PoolBalanced());
  }
}

TEST(Update, RequestsResolveThroughTheCatalogue) {
  {
    sim::HostPlatform p;
    EXPECT_EQ(p.Run({"Panelup.efi", "/f", "9", "9"}), 0);
    EXPECT_TRUE(Contains(p.OutputText(), "to [ 02.04.10 ]"));
    EXPECT_TRUE(FlashHolds(p, 4));
  }
  {
    sim::HostPlatform p;
    EXPECT_EQ(p.Run({"Panelup.efi", "/F", "258", "6"}), 0);
    EXPECT_TRUE(Contains(p.OutputText(), "to [ 02.06.19 ]"));
    EXPECT_TRUE(FlashHolds(p, 6));
  }
}

TEST(Update, SecondRunStartsFromTheDefaultSelectionAgain) {
  sim::HostPlatform p;
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "8"}), 0);
  EXPECT_TRUE(FlashHolds(p, 8));
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "7", "7"}), 0);
  EXPECT_TRUE(FlashHolds(p, 4)) << "an unmatched request falls back to entry 4, not the last one";
  EXPECT_TRUE(Contains(p.OutputText(), "flash from [ 02.06.12 ]"))
      << "the chip model keeps its version registers";
}

TEST(Update, ChipBusNotFoundReturns24WithoutTouchingAnything) {
  sim::HostOptions o;
  o.smbusControllers = 0;
  sim::HostPlatform p(o);
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 24);
  EXPECT_TRUE(
      Contains(p.OutputText(), "VTQ_001D VTQ_HandleProtocol EFI_PROTOCOL_ERROR= Not Found"));
  EXPECT_TRUE(EcBytes(p).empty());
  EXPECT_TRUE(p.PoolBalanced());
}

} // namespace

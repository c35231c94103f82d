// Whole /f runs on the simulated platform: how they end, the catalogue choices and the progress
// line; the run that passes is stated whole in update_sequence_test.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/result_record.h"
#include "catalogue/catalogue.h"
#include "event_text.h"
#include "records.h"
#include "sim/host/host_platform.h"
#include "sim/host/text.h"
#include "tests/sweep/sweep_run.h"
#include "update/key_custody.h"

namespace {

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

// Each compare covers its last byte and reports its first difference (the firmware's, when the
// key area differs too); then CMOS goes back to the version found before, red comes before the
// status code, and the EC hears of the failure.
TEST(Update, FirstDifferenceFailsTheUpdate) {
  const CatalogueEntry &entry = FirmwareCatalogue[6];
  struct Case {
    const char *what;
    int32_t stuckAddress;
    int32_t corruptKeyOffset;
  };
  const Case cases[] = {
      {"firmware byte 0x123, and key byte 5", 0x0123, 5},
      {"the image's last byte", entry.length - 1, -1},
      {"key byte 0", -1, 0},
      {"the key area's last byte", -1, 285},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::HostOptions o;
    o.chip.stuckAddress = c.stuckAddress;
    o.chip.stuckMask = 0xFF;
    o.chip.corruptKeyOffset = c.corruptKeyOffset;
    sim::HostPlatform p(o);
    EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 248);
    char report[160];
    if (c.stuckAddress >= 0) {
      const uint8_t imageByte = entry.image[c.stuckAddress];
      ASSERT_NE(imageByte, 0xFF);
      std::snprintf(report, sizeof report,
                    R"(VTQ_005B Compare ReadFirmware[%04X]=[ 00FF]   != OriFW[%04X]=[ %04X]  fail)",
                    c.stuckAddress, c.stuckAddress, imageByte);
    } else {
      // The model programs this byte XORed with 0x5A.
      const uint8_t keyByte = p.Chip().originalKeyArea[c.corruptKeyOffset];
      std::snprintf(
          report, sizeof report,
          R"(VTQ_005B Compare ReadHdcpKey[%04X]=[ %04X]   != HdcpKey[%04X]=[ %04X]  fail)",
          c.corruptKeyOffset, keyByte ^ 0x5A, c.corruptKeyOffset, keyByte);
    }
    const std::string text = EventText(p.Events());
    EXPECT_EQ(text.substr(text.find("print \"\\r\\n VTQ_002I")),
              std::string(R"(print "\r\n VTQ_002I  Comparing..."
print "\r\n VTQ_005A Compare"
print "\r\n )") + report +
                  R"("
cmos[70] = 02
cmos[71] = 06
cmos[72] = 0C
attribute 0C
cmos[79] = F8
print "\r\n VTQ_002J  upgrade Fail"
ec 8C
print "\r\n Please shutdown you system and power On again\r\n \r\n"
cmos[79] = FF
free 8
attribute 0F
)" + "SetVariable PanelupResult 07 (" +
                  std::to_string(88 + RecordTail("return", 1).size()) + ") -> Success\n");
    EXPECT_TRUE(p.PoolBalanced());
  }
}

// A read-back with a failed transfer proves nothing: here only the run's last write fails (the
// key read-back's closing command), every byte read is right, and the update still fails.
TEST(Update, AReadBackWithAFailedTransferNeverPasses) {
  sim::HostOptions o;
  o.faults.failOnce = sweep::LearntReference("2:6").transactions - 1;
  sim::HostPlatform p(o);
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 248);
  EXPECT_TRUE(Contains(p.OutputText(),
                       "\r\n VTQ_005A Compare\r\n VTQ_005D Compare not made, a "
                       "read-back transfer failed  fail\r\n VTQ_002J  upgrade Fail"))
      << p.OutputText();
  EXPECT_TRUE(FlashHolds(p, 6));
  EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
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

// A build's test pattern on a controller without the simulator's mark (a real machine): refused
// before the chip, the CMOS or the EC hear anything, and no backup is stored.
TEST(Update, ATestPatternNeverReachesARealController) {
  ASSERT_FALSE(FirmwareCatalogue[6].genuine) << "the tests build with test patterns";
  sim::HostOptions o;
  o.simulatedBusMark = false;
  sim::HostPlatform p(o);
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 254);
  EXPECT_TRUE(Contains(p.OutputText(), "\r\n VTQ_002K  FW image H070BWX002 [ 02.06.19 ] is a test "
                                       "pattern, not for a real panel, nothing written"))
      << p.OutputText();
  EXPECT_EQ(p.Bus().transactions, 0u);
  EXPECT_TRUE(p.Recorded<sim::PortAccess>().empty());
  EXPECT_EQ(p.FindVariable(kKeyBackupName, kKeyBackupGuid), nullptr);
  const sim::StoredVariable *record = p.FindVariable(kResultRecordName, kResultRecordGuid);
  ASSERT_NE(record, nullptr);
  EXPECT_TRUE(Contains(std::string(record->data.begin(), record->data.end()),
                       " exit=254 from=none to=02.06.19 "));
}

} // namespace

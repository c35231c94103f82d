// Whole runs through EfiMain on the host platform: what the command forms that do not flash leave
// on the screen, how arguments reach the tool, and that every run returns its pool memory. Each
// form's exact sequence of calls is in command_sequence_test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/host/host_platform.h"
#include "records.h"

namespace {

using sim::ConsoleOp;
using sim::HostOptions;
using sim::HostPlatform;

const char kBannerRow[] = "  KOVA Panelup Utility Version : [ V1.0.0.42-2022-09-09]";
const char kVersionLine[] = " VTQ_001 LT7911D FW version [ CID_PID_Txx ] On board = [ ";

bool ScreenHas(const HostPlatform &p, const std::string &text) {
  return p.ScreenText().find(text) != std::string::npos;
}

// The on-board version on the fourth row, the switch in any case and length; the chip's access
// is released after it.
TEST(Run, VersionQueryShowsTheChipsVersion) {
  sim::ChipConfig other;
  other.cid = 1, other.pid = 13, other.txx = 104;
  const struct {
    const char *operand = "";
    sim::ChipConfig chip;
    const char *version = "";
  } cases[] = {{"/S", {}, "02.06.12"}, {"/show", {}, "02.06.12"}, {"/s", other, "01.13.104"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.operand);
    HostOptions o;
    o.chip = c.chip;
    HostPlatform p(o);
    EXPECT_EQ(p.Run({"Panelup.efi", c.operand}), 22);
    EXPECT_EQ(p.RowText(3), std::string(kVersionLine) + c.version + " ]");
    EXPECT_FALSE(p.Chip().hostAccess);
  }
}

TEST(Run, PrintFallsBackToItsOwnBufferWithoutPool) {
  HostOptions o;
  o.failAllAllocations = true;
  HostPlatform p(o);
  EXPECT_EQ(p.Run({"Panelup.efi"}), 10);
  EXPECT_EQ(p.RowText(1), kBannerRow);
  EXPECT_EQ(p.RowText(13), "        Panelup.efi  /f  2 6");
  EXPECT_EQ(p.Pool().failedAllocations, 9u);
  EXPECT_TRUE(p.PoolBalanced());
}

TEST(Run, OneFailedAllocationLosesNothing) {
  HostOptions o;
  o.failAllocationNumber = 1; // the banner's buffer
  HostPlatform p(o);
  EXPECT_EQ(p.Run({"Panelup.efi", "/s"}), 22);
  EXPECT_EQ(p.RowText(1), kBannerRow);
  EXPECT_TRUE(ScreenHas(p, "02.06.12"));
  EXPECT_EQ(p.Pool().failedAllocations, 1u);
  EXPECT_TRUE(p.PoolBalanced());
}

// The load options carry the same counts in LoadOptionsWithAndWithoutProgramName.
TEST(Run, OlderShellCarriesTheSameArguments) {
  HostOptions o;
  o.arguments = sim::ArgumentSource::ShellInterface;
  HostPlatform p(o);
  EXPECT_EQ(p.Run({"Panelup.efi", "/S"}), 22);
  EXPECT_TRUE(ScreenHas(p, "02.06.12"));
  EXPECT_EQ(p.Run({"Panelup.efi", "/q", "2", "6"}), 255);
  EXPECT_EQ(p.Run({"Panelup.efi"}), 10);
}

TEST(Run, LongAndNonAsciiArgumentsAreConvertedWithinBounds) {
  HostPlatform p;
  // Only the first two characters of the switch count, however long the operand that fits.
  EXPECT_EQ(p.Run({"Panelup.efi", "/s" + std::string(2000, 'x')}), 22);
  EXPECT_EQ(p.Run({"Panelup.efi", "/S" + std::string(1900, 'x') + "\xF0\x9F\x98\x80"}), 22);
  // Three-byte and four-byte UTF-8 forms fill the text store faster than ASCII.
  std::string wide;
  for (int i = 0; i < 1500; ++i)
    wide += "\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_EQ(p.Run({"Panelup.efi", "/s", wide}), 31);
  EXPECT_EQ(p.Run({"Panelup.efi", wide, "/s"}), 31);
  EXPECT_EQ(p.Run({"Panelup.efi", "/sé"}), 22);
  // More arguments than the entry keeps: still a count of five or more.
  EXPECT_EQ(p.Run(std::vector<std::string>(100, std::string(100, 'a'))), 0);
  EXPECT_TRUE(p.PoolBalanced());
}

TEST(Run, ALongOperandDoesNotCostTheArgumentsAfterIt) {
  HostPlatform p;
  // The count decides the command: text cut short must not drop the arguments behind it.
  EXPECT_EQ(p.Run({"Panelup.efi", "/q", std::string(3000, '1'), "6"}), 255);
  EXPECT_EQ(static_cast<int>(ConsoleCalls(p, ConsoleOp::ClearScreen).size()), 2);
  EXPECT_TRUE(p.PoolBalanced());
}

// A cut operand is another operand: a CID of 2,999 zeros and a 2, cut before the 2, reads 0 and
// would flash entry 4. Whatever was cut, the run is that of an unrecognised switch.
TEST(Run, ACutArgumentNeverReachesTheChip) {
  const std::string cid = std::string(2999, '0') + "2";
  {
    HostPlatform p;
    EXPECT_EQ(p.Run({"Panelup.efi", "/f", cid, "6"}), 255);
    EXPECT_TRUE(p.Recorded<sim::Transaction>().empty());
    EXPECT_TRUE(p.EcBytes().empty());
    EXPECT_EQ(p.ScreenText().find_first_not_of(" \n"), std::string::npos) << "screen left blank";
    EXPECT_EQ(p.Cmos(0x79), 0);

    EXPECT_EQ(p.Run({"Panelup.efi", "/s" + std::string(3000, 'x')}), 0);
    EXPECT_TRUE(p.Recorded<sim::Transaction>().empty());
    EXPECT_TRUE(ScreenHas(p, kBannerRow));
    EXPECT_EQ(p.Run({"Panelup.efi", "/g", "20220909042" + std::string(3000, '9')}), 31);
    EXPECT_FALSE(ScreenHas(p, "support List"));
    // The text store is shared: a long last operand cuts the /f form as well.
    EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6" + std::string(3000, ' ')}), 255);
    EXPECT_TRUE(p.Recorded<sim::Transaction>().empty());
  }

  // Through the loaded image's option string, cut by its own bound: the PID falls behind the cut,
  // which leaves three arguments.
  HostOptions o;
  o.arguments = sim::ArgumentSource::LoadOptions;
  o.rawLoadOptions = "/f " + cid + " 6";
  HostPlatform fromOptions(o);
  EXPECT_EQ(fromOptions.Run({}), 31);
  EXPECT_TRUE(fromOptions.Recorded<sim::Transaction>().empty());
  EXPECT_TRUE(fromOptions.PoolBalanced());
}

// A boot manager passes only the options; a launcher that passes the program name first is told
// apart by the .efi name.
TEST(Run, LoadOptionsWithAndWithoutProgramName) {
  struct Case {
    const char *options;
    int64_t status;
  };
  const Case cases[] = {
      {"/s", 22},                              // options only: element 0 stands in
      {"  /S  ", 22},                          // separators around it
      {"Panelup.efi /s", 22},                  // name first
      {"fs0:\\EFI\\BOOT\\PANELUP.EFI /g", 21}, // a path, any case
      {"/q 2 6", 255},                         // three operands: the /f form's count
      {"", 10},                                // no options: usage
      {"Panelup.efi", 10},                     // only the name: usage
      {"efi /s", 31},                          // not a file name: an operand
      {"Panelup.efix /s", 31},
      {"Panelup.efi Other.efi /s", 31}, // only the first word can be the name
  };
  for (const Case &c : cases) {
    HostOptions o;
    o.arguments = sim::ArgumentSource::LoadOptions;
    o.rawLoadOptions = c.options;
    HostPlatform p(o);
    EXPECT_EQ(p.Run({}), c.status) << "options '" << c.options << "'";
  }
}

TEST(Run, RepeatedRunsOnOneMachine) {
  HostPlatform p;
  EXPECT_EQ(p.Run({"Panelup.efi", "/s"}), 22);
  size_t firstTrace = p.Recorded<sim::Transaction>().size();
  EXPECT_EQ(p.Run({"Panelup.efi", "/s"}), 22);
  EXPECT_EQ(p.Recorded<sim::Transaction>().size(), firstTrace) << "records are per run";
  EXPECT_EQ(p.Recorded<sim::Transaction>().front().index, 0u);
  EXPECT_EQ(static_cast<int>(ConsoleCalls(p, ConsoleOp::ClearScreen).size()), 1);
  EXPECT_EQ(p.RowText(3), std::string(kVersionLine) + "02.06.12 ]");
  EXPECT_GT(p.RunMicros(), 0u);
  EXPECT_EQ(p.RunMicros(), p.Bus().busMicros) << "no stall in a version query";
  EXPECT_TRUE(p.PoolBalanced());
}

} // namespace

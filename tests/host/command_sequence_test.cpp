// Whole runs of every command form, each stated as the ordered list of what the platform saw
// (event_text.h): the exact strings with their trailing spaces, the bus traffic, CMOS, EC and
// pool calls in the order made. The /f update that runs to its end is in update_sequence_test.
#include <gtest/gtest.h>

#include <map>

#include "event_text.h"
#include "records.h"
#include "sim/host/host_platform.h"

namespace {

const std::string kBanner = R"(clear
cursor 1,1
print " KOVA Panelup Utility Version : [ V1.0.0.42-2022-09-09] \r\n"
)";

const std::string kListHead =
    R"(print "\r\n ------------------- LT7911D FW support List -------------------"
print "\r\n  Index | CID   PID   Txx  |   Size      Model                  "
print "\r\n ---------------------------------------------------------------"
)";

const std::string kListFoot =
    R"(print "\r\n ---------------------------------------------------------------\r\n"
print "\r\n\r\n"
)";

std::string Sequence(sim::HostPlatform &p, const std::vector<std::string> &args, int64_t exit) {
  EXPECT_EQ(p.Run(args), exit);
  EXPECT_TRUE(p.PoolBalanced());
  return EventText(p.Events());
}

TEST(CommandSequence, UsageWithoutOperand) {
  sim::HostPlatform p;
  EXPECT_EQ(Sequence(p, {"Panelup.efi"}, 10), kBanner + R"(print "\r\n Usage : "
print "\r\n        Panelup.efi  /f  [ CID_0 ]  [ PID_1 ] ; flash the CID and PID LCD FW "
print "\r\n        Panelup.efi  /s                       ; show current onboard FW version "
print "\r\n        Panelup.efi  /g                       ; Get Supported FW of this version tool "
print "\r\n\r\n example:"
print "\r\n        Panelup.efi  /s  "
print "\r\n        Panelup.efi  /g  "
print "\r\n        Panelup.efi  /f  2 6  \r\n\r\n"
)");
}

TEST(CommandSequence, SupportListOfTheCmosCid) {
  sim::HostPlatform p;
  p.SetCmos(0x70, 2);
  p.SetCmos(0x71, 6);
  EXPECT_EQ(Sequence(p, {"Panelup.efi", "/g"}, 21), kBanner + R"(cmos[70] -> 02
cmos[71] -> 06
)" + kListHead + R"(print "\r\n    01  |  02    04    10  |  7 inch     GV070WUM-L51  "
print "\r\n    02  |  02    05    12  |  7 inch     BW7002A  "
print "\r\n  * 03  |  02    06    19  |  7 inch     H070BWX002  "
print "\r\n    04  |  02    07    12  |  8 inch     BW080FH-39B  "
print "\r\n    05  |  02    08    04  |  8 inch     XF080J02A-N008  "
)" + kListFoot);

  // A CID no entry has: the frame alone.
  p.SetCmos(0x70, 7);
  EXPECT_EQ(Sequence(p, {"Panelup.efi", "/G"}, 21),
            kBanner + "cmos[70] -> 07\ncmos[71] -> 06\n" + kListHead + kListFoot);
}

TEST(CommandSequence, SupportListOfEveryEntryWithTheAccessCode) {
  sim::HostPlatform p;
  p.SetCmos(0x70, 2);
  p.SetCmos(0x71, 4);
  // Characters after the eleventh are not looked at.
  EXPECT_EQ(Sequence(p, {"Panelup.efi", "/g", "20220909042trailing"}, 30),
            kBanner + R"(cmos[70] -> 02
cmos[71] -> 04
)" + kListHead + R"(print "\r\n    01  |  01    01    19  |  7 inch     FRD700H31018-A  "
print "\r\n    02  |  01    03    04  |  7 inch     W0700H82LS-D  "
print "\r\n    03  |  01    04    08  |  4 inch     W0550U99GE-D  "
print "\r\n    04  |  01    05    07  |  7 inch     W0700UA2GS-D  "
print "\r\n  * 05  |  02    04    10  |  7 inch     GV070WUM-L51  "
print "\r\n    06  |  02    05    12  |  7 inch     BW7002A  "
print "\r\n    07  |  02    06    19  |  7 inch     H070BWX002  "
print "\r\n    08  |  02    07    12  |  8 inch     BW080FH-39B  "
print "\r\n    09  |  02    08    04  |  8 inch     XF080J02A-N008  "
)" + kListFoot);
  EXPECT_EQ(Sequence(p, {"Panelup.efi", "/g", "2022090904"}, 31), kBanner);
}

const char kVersionQuery[] = R"(W FF 80
W EE 01
W FF D2
R 0C 02
R 0D 06
R 0E 0C
W FF 80
W EE 00
print "\r\n VTQ_001 LT7911D FW version [ CID_PID_Txx ] On board = [ 02.06.12 ]\r\n\r\n"
)";

TEST(CommandSequence, VersionQuery) {
  sim::HostPlatform p;
  EXPECT_EQ(Sequence(p, {"Panelup.efi", "/s"}, 22),
            kBanner + "alloc 8\n" + kVersionQuery + "free 8\n");
}

// Of two controllers only the first is asked for; the handle list of both goes back.
TEST(CommandSequence, VersionQueryUsesTheFirstOfTwoControllers) {
  sim::HostOptions o;
  o.smbusControllers = 2;
  sim::HostPlatform p(o);
  EXPECT_EQ(Sequence(p, {"Panelup.efi", "/s"}, 22),
            kBanner + "alloc 16\n" + kVersionQuery + "free 16\n");
  ASSERT_EQ(p.Controllers().size(), 2u);
  EXPECT_EQ(p.Controllers()[1]->transactions + p.Controllers()[1]->rejected, 0u);
}

// Each way the bus search fails: no controller (for /s and /f), HandleProtocol refused, no pool
// for the handle list. Exit 24 and the message; the list goes back where there was one.
TEST(CommandSequence, BusSearchFailures) {
  const std::string notFound =
      "print \"\\r\\n VTQ_001D VTQ_HandleProtocol EFI_PROTOCOL_ERROR= Not Found\"\n";
  struct Case {
    const char *what = "";
    sim::HostOptions options;
    std::vector<std::string> args;
    std::string text;
  };
  std::vector<Case> cases(4);
  cases[0] = {"no controller", {}, {"Panelup.efi", "/s"}, kBanner + notFound};
  cases[1] = {
      "no controller, /f",
      {},
      {"Panelup.efi", "/f", "2", "6"},
      kBanner + "clear\nwatchdog 0\nattribute 0F\nSetVariable PanelupResult 00 (0) -> Not Found\n" +
          notFound + "SetVariable PanelupResult 07 (" +
          std::to_string(79 + RecordTail("return", 0).size()) + ") -> Success\n"};
  cases[0].options.smbusControllers = cases[1].options.smbusControllers = 0;
  cases[2] = {"HandleProtocol refused", {}, {"Panelup.efi", "/s"}, kBanner + R"(alloc 8
print "\r\n VTQ_001C HandleProtocol  NG = Unsupported \r\n"
free 8
)"};
  cases[2].options.handleProtocolFails = true;
  cases[3] = {"no pool for the handle list",
              {},
              {"Panelup.efi", "/s"},
              kBanner + R"(alloc 8 -> Out of Resources
print "\r\n VTQ_001D VTQ_HandleProtocol EFI_PROTOCOL_ERROR= Out of Resources"
)"};
  cases[3].options.failAllocationNumber = 2; // the banner's buffer is the first
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::HostPlatform p(c.options);
    EXPECT_EQ(Sequence(p, c.args, 24), c.text);
  }
}

// Every argument count with no command in it, and the switches that are none: the banner and
// the exit status alone, the chip never addressed. No arguments at all: not even the banner.
TEST(CommandSequence, CountsAndSwitchesThatDoNothing) {
  struct Case {
    std::vector<std::string> args;
    int64_t exit;
    std::string text;
  };
  const Case cases[] = {
      {{}, 0, ""},
      {{"Panelup.efi", "/x"}, 0, kBanner},
      {{"Panelup.efi", "/\u00e9"}, 0, kBanner},
      {{"Panelup.efi", "/f", "2"}, 31, kBanner},
      {{"Panelup.efi", "/g", "123"}, 31, kBanner},
      {{"Panelup.efi", "/q", "2", "6"}, 255, kBanner + "clear\n"},
      {{"Panelup.efi", "/f", "2", "6", "7"}, 0, kBanner},
      {{"Panelup.efi", "/s", "x", "y", "z", "w"}, 0, kBanner},
  };
  sim::HostPlatform p;
  for (const Case &c : cases)
    EXPECT_EQ(Sequence(p, c.args, c.exit), c.text) << c.args.size() << " arguments";
}

// /f up to the chip id check, where a chip that is not there or not ours stops it. @F marks each
// transfer's outcome, @V each version byte read and @D as printed, @H and @L the id bytes, @R the
// result record's size without its tail (RecordTail).
const std::string kStopAtChipId = kBanner + R"(clear
watchdog 0
attribute 0F
SetVariable PanelupResult 00 (0) -> Not Found
alloc 8
cursor off
W FF 80@F
W EE 01@F
W FF D2@F
R 0C @V@F
R 0D @V@F
R 0E @V@F
cmos[70] = @V
cmos[71] = @V
cmos[72] = @V
W FF 80@F
W EE 00@F
stall 1000000
ec 8B
print "\r\n VTQ_001 LT7911D FW [ CID_PID_Txx ] flash from [ @D.@D.@D ] to [ 02.06.19 ] "
stall 500000
W FF 80@F
W EE 01@F
W FF A0@F
R 00 @H@F
R 01 @L@F
print "\r\nVTQ_001   Read chipid fail(chipid[@H@L] !=0x1605),please check hardware"
cmos[79] = F9
print "\r\n VTQ_002L  the chip offline"
free 8
attribute 0F
SetVariable PanelupResult 07 (@R) -> Success
)";

std::string Fill(std::string text, const std::map<std::string, std::string> &values) {
  for (const auto &[mark, value] : values)
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at))
      text.replace(at, mark.size(), value);
  return text;
}

TEST(CommandSequence, UpdateStopsAtAChipThatIsNotOurs) {
  struct Case {
    const char *what;
    sim::HostOptions options;
    std::map<std::string, std::string> values;
  };
  Case cases[3] = {
      {"another chip id",
       {},
       {{"@F", ""}, {"@V", "0C"}, {"@D", "12"}, {"@H", "16"}, {"@L", "06"}, {"@R", "88"}}},
      {"a bus that answers nothing",
       {},
       {{"@F", " failed"}, {"@V", "FF"}, {"@D", "255"}, {"@H", "FF"}, {"@L", "FF"}, {"@R", "91"}}},
      {"a chip that ignores every write",
       {},
       {{"@F", ""}, {"@V", "00"}, {"@D", "00"}, {"@H", "00"}, {"@L", "00"}, {"@R", "88"}}},
  };
  cases[0].options.chip.idLow = 0x06;
  cases[0].options.chip.cid = cases[0].options.chip.pid = 12;
  cases[1].options.faults.failFrom = 0;
  cases[2].options.chip.ignoreWrites = true;
  for (Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::HostPlatform p(c.options);
    c.values["@R"] = std::to_string(std::stoi(c.values["@R"]) + RecordTail("return", 0).size());
    std::string expected = Fill(kStopAtChipId, c.values);
    EXPECT_EQ(Sequence(p, {"Panelup.efi", "/f", "2", "6"}, 255), expected);
    EXPECT_EQ(p.Chip().erases, 0u);
  }
}

} // namespace

// A whole /f update, stated as the ordered list of what the platform saw: every console call,
// bus transaction, CMOS write, EC command, wait, pool and variable call, in the order made.
// Repeated page traffic is folded (event_text.h); the flash contents show that each page went to
// its own address. The text is put together from literal pieces that recur: the frame of every
// flash routine and its page traffic.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "event_text.h"
#include "records.h"
#include "sim/host/host_platform.h"

namespace {

const std::string kPreamble = R"(W FF 80
W EE 01
W FF 90
W 02 DF
W 02 FF
W FF 80
W 5A 86
W 5A 82
)";
const std::string kPostamble = "W 5A 8A\nW 5A 82\n";

// A page read: the mode, the FIFO emptied, the address, the read started, the bytes.
const std::string kReadPageOpen = "W 5E 6F\nW 5A A2\nW 5A 82\n";
const std::string kReadPageStart = "W 5A 92\nW 5A 82\nW 58 01\n";
const std::string kFoldedAddress = "W 5B ..\nW 5C ..\nW 5D ..\n";
const std::string kReadPage = kReadPageOpen + kFoldedAddress + kReadPageStart + "16 x R 5F ..\n";

std::string Indented(const std::string &text) {
  std::string out;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at) + 1;
    out += "  " + text.substr(at, end - at);
    at = end;
  }
  return out;
}

std::string Fold(const char *times, const std::string &block) {
  return std::string(times) + " x {\n" + Indented(block) + "}\n";
}

// The key area's eighteen pages read from 0x6000; the last one, at 0x6110, is 14 bytes.
std::string KeyAreaRead(const std::string &lastAddress) {
  return kPreamble + Fold("17", kReadPage) + kReadPageOpen + lastAddress + kReadPageStart +
         "14 x R 5F ..\n" + kPostamble;
}

const std::string kHead = R"(clear
cursor 1,1
print " KOVA Panelup Utility Version : [ V1.0.0.42-2022-09-09] \r\n"
clear
watchdog 0
attribute 0F
SetVariable PanelupResult 00 (0) -> Not Found
alloc 8
cursor off
W FF 80
W EE 01
W FF D2
R 0C 02
R 0D 06
R 0E 0C
cmos[70] = 02
cmos[71] = 06
cmos[72] = 0C
W FF 80
W EE 00
stall 1000000
ec 8B
print "\r\n VTQ_001 LT7911D FW [ CID_PID_Txx ] flash from [ 02.06.12 ] to [ 02.06.19 ] "
stall 500000
W FF 80
W EE 01
W FF A0
R 00 16
R 01 05
print "\r\n VTQ_001   Read chipid PASS"
stall 10000
print "\r\n VTQ_002A  ConfigPara"
W FF 80
W EE 01
W 5A 82
W 5E C0
W 58 00
W 59 51
W 5A 92
W 5A 82
stall 100000
cmos[79] = F2
print "\r\n VTQ_002B  SaveHdcpKeyFromFlash"
)";

const std::string kFlash26 = kHead + Fold("2", KeyAreaRead(kFoldedAddress)) +
                             R"(GetVariable PanelupHdcpKey (286) -> Not Found
GetVariable PanelupKeyCrc (4) -> Not Found
SetVariable PanelupHdcpKey 03 (286) -> Success
GetVariable PanelupHdcpKey (286) -> Success
SetVariable PanelupKeyCrc 03 (4) -> Success
cmos[79] = F3
print "\r\n VTQ_002C  BlockErase"
W FF 80
W EE 01
W 5A 82
W 5A 86
W 5A 82
W 5B 00
W 5C 00
W 5D 00
W 5A 83
W 5A 82
cmos[79] = F4
stall 1000000
print "\r\n VTQ_002D  WriteFirmwareToFlash"
)" + kPreamble + Fold("928", R"(W 5A 86
W 5A 82
W 5E EF
W 5A A2
W 5A 82
W 58 01
16 x W 59 ..
cursor 0,7
print " VTQ_002E  =====Updating LT7911D  .. % percent ====="
)" + kFoldedAddress + R"(W 5E E0
W 5A 92
W 5A 82
)") + kPostamble + R"(cmos[79] = F5
print "\r\n VTQ_002F  WriteHdcpKeyToFlash"
)" + kPreamble + Fold("18", R"(W 5E EF
W 5A A2
W 5A 82
W 58 01
16 x W 59 ..
)" + kFoldedAddress + R"(W 5E E0
W 5A 92
W 5A 82
)") + kPostamble + R"(cmos[79] = F6
print "\r\n VTQ_002G  ReadFirmwareFromFlash"
)" + kPreamble + Fold("927", kReadPage) +
                             kReadPageOpen + "W 5B 00\nW 5C 39\nW 5D F0\n" + kReadPageStart +
                             "8 x R 5F ..\n" + kPostamble +
                             R"(print "\r\n VTQ_002H  ReadHdcpKeyFromFlash"
)" + KeyAreaRead("W 5B 00\nW 5C 61\nW 5D 10\n") +
                             R"(cmos[79] = F7
print "\r\n VTQ_002I  Comparing..."
print "\r\n VTQ_005A Compare"
SetVariable PanelupHdcpKey 03 (0) -> Success
SetVariable PanelupKeyCrc 03 (0) -> Success
print "\r\n VTQ_005C Compare  pass!"
cmos[70] = 02
cmos[71] = 06
cmos[72] = 13
cmos[79] = F0
attribute 0A
print "\r\n VTQ_002J  upgrade success"
ec 8A
print "\r\n ================PASS================n"
print "\r\n Please shutdown you system and power On again\r\n \r\n"
cmos[79] = FF
free 8
attribute 0F
)" + "SetVariable PanelupResult 07 (" +
                             std::to_string(86 + RecordTail("return", 1).size()) + ") -> Success\n";

// The same run however the request comes: the switch in either case, a CID whose low byte is 2,
// the arguments in the loaded image's options as a boot manager passes them.
TEST(UpdateSequence, UpdateOfTheRequestedImage) {
  struct Case {
    std::vector<std::string> args;
    const char *loadOptions;
  };
  const Case cases[] = {{{"Panelup.efi", "/f", "2", "6"}, nullptr},
                        {{"Panelup.efi", "/F", "258", "6"}, nullptr},
                        {{}, "/f 2 6"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.loadOptions ? c.loadOptions : c.args[2]);
    sim::HostOptions o;
    if (c.loadOptions) {
      o.arguments = sim::ArgumentSource::LoadOptions;
      o.rawLoadOptions = c.loadOptions;
    }
    sim::HostPlatform p(o);
    EXPECT_EQ(p.Run(c.args), 0);
    std::string expected = kFlash26;
    if (c.loadOptions) {
      // From a boot option: no schedule found, and the boot manager's watchdog given back.
      expected.insert(expected.find("SetVariable PanelupResult 00"),
                      "GetVariable PanelupSchedule (64) -> Not Found\n");
      expected += "watchdog 300\n";
    }
    EXPECT_EQ(EventText(p.Events()), expected);
    EXPECT_TRUE(FlashHolds(p, 6));
    EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
    EXPECT_EQ(p.Chip().erases, 1u);
    EXPECT_EQ(p.RowText(7), " VTQ_002E  =====Updating LT7911D  100 % percent =====");
    EXPECT_TRUE(p.PoolBalanced());
  }
}

// 17,344 bytes are whole pages: no fill bytes go out and every page reads back all sixteen.
TEST(UpdateSequence, ImageOfWholePages) {
  sim::HostPlatform p;
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "1", "1"}), 0);
  const std::string text = EventText(p.Events());
  EXPECT_NE(text.find("\n1084 x {\n  W 5A 86\n"), std::string::npos) << "the firmware write";
  const size_t from = text.find("VTQ_002G  ReadFirmwareFromFlash\"\n");
  EXPECT_EQ(text.substr(from, text.find("print \"\\r\\n VTQ_002H") - from),
            "VTQ_002G  ReadFirmwareFromFlash\"\n" + kPreamble + Fold("1084", kReadPage) +
                kPostamble);
  EXPECT_TRUE(FlashHolds(p, 0));
  EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
}

} // namespace

// A whole /f update, stated as the ordered list of what the platform saw: every console call,
// bus transaction, CMOS write, EC command, wait, pool and variable call, in the order made.
// Repeated page traffic is folded (event_text.h); the flash contents show that each page went to
// its own address.
#include <gtest/gtest.h>

#include <cstring>

#include "catalogue/catalogue.h"
#include "event_text.h"
#include "sim/host/host_platform.h"

namespace {

const char kFlash26[] = R"(clear
cursor 1,1
print " KOVA Panelup Utility Version : [ V1.0.0.42-2022-09-09] \r\n"
clear
attribute 0F
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
2 x {
  W FF 80
  W EE 01
  W FF 90
  W 02 DF
  W 02 FF
  W FF 80
  W 5A 86
  W 5A 82
  17 x {
    W 5E 6F
    W 5A A2
    W 5A 82
    W 5B ..
    W 5C ..
    W 5D ..
    W 5A 92
    W 5A 82
    W 58 01
    16 x R 5F ..
  }
  W 5E 6F
  W 5A A2
  W 5A 82
  W 5B ..
  W 5C ..
  W 5D ..
  W 5A 92
  W 5A 82
  W 58 01
  14 x R 5F ..
  W 5A 8A
  W 5A 82
}
GetVariable PanelupHdcpKey (286) -> Not Found
SetVariable PanelupHdcpKey 03 (286) -> Success
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
W FF 80
W EE 01
W FF 90
W 02 DF
W 02 FF
W FF 80
W 5A 86
W 5A 82
928 x {
  W 5A 86
  W 5A 82
  W 5E EF
  W 5A A2
  W 5A 82
  W 58 01
  16 x W 59 ..
  cursor 0,7
  print " VTQ_002E  =====Updating LT7911D  .. % percent ====="
  W 5B ..
  W 5C ..
  W 5D ..
  W 5E E0
  W 5A 92
  W 5A 82
}
W 5A 8A
W 5A 82
cmos[79] = F5
print "\r\n VTQ_002F  WriteHdcpKeyToFlash"
W FF 80
W EE 01
W FF 90
W 02 DF
W 02 FF
W FF 80
W 5A 86
W 5A 82
18 x {
  W 5E EF
  W 5A A2
  W 5A 82
  W 58 01
  16 x W 59 ..
  W 5B ..
  W 5C ..
  W 5D ..
  W 5E E0
  W 5A 92
  W 5A 82
}
W 5A 8A
W 5A 82
cmos[79] = F6
print "\r\n VTQ_002G  ReadFirmwareFromFlash"
W FF 80
W EE 01
W FF 90
W 02 DF
W 02 FF
W FF 80
W 5A 86
W 5A 82
927 x {
  W 5E 6F
  W 5A A2
  W 5A 82
  W 5B ..
  W 5C ..
  W 5D ..
  W 5A 92
  W 5A 82
  W 58 01
  16 x R 5F ..
}
W 5E 6F
W 5A A2
W 5A 82
W 5B 00
W 5C 39
W 5D F0
W 5A 92
W 5A 82
W 58 01
8 x R 5F ..
W 5A 8A
W 5A 82
print "\r\n VTQ_002H  ReadHdcpKeyFromFlash"
W FF 80
W EE 01
W FF 90
W 02 DF
W 02 FF
W FF 80
W 5A 86
W 5A 82
17 x {
  W 5E 6F
  W 5A A2
  W 5A 82
  W 5B ..
  W 5C ..
  W 5D ..
  W 5A 92
  W 5A 82
  W 58 01
  16 x R 5F ..
}
W 5E 6F
W 5A A2
W 5A 82
W 5B 00
W 5C 61
W 5D 10
W 5A 92
W 5A 82
W 58 01
14 x R 5F ..
W 5A 8A
W 5A 82
cmos[79] = F7
print "\r\n VTQ_002I  Comparing..."
print "\r\n VTQ_005A Compare"
SetVariable PanelupHdcpKey 03 (0) -> Success
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
)";

TEST(FlashSequence, UpdateOfTheRequestedImage) {
  sim::HostPlatform p;
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 0);
  EXPECT_EQ(EventText(p.Events()), kFlash26);
  const CatalogueEntry &entry = FirmwareCatalogue[6];
  EXPECT_EQ(std::memcmp(p.Chip().flash, entry.image, entry.length), 0);
  EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
  EXPECT_EQ(p.Chip().erases, 1u);
  EXPECT_EQ(p.RowText(7), " VTQ_002E  =====Updating LT7911D  100 % percent =====");
  EXPECT_TRUE(p.PoolBalanced());
}

} // namespace

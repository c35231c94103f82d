// The host platform the whole-run tests stand on: its screen model, pool accounting, handle
// database, Stall and ports must themselves be right, or the runs prove nothing.
#include <gtest/gtest.h>

#include "platform/port_io.h"
#include "records.h"
#include "sim/host/host_platform.h"
#include "sim/host/text.h"
#include "uefi/shell_interface.h"
#include "uefi/shell_parameters.h"

namespace {

using sim::ConsoleOp;
using sim::HostOptions;
using sim::HostPlatform;

class Console : public ::testing::Test {
protected:
  EFI_STATUS Out(const char16_t *text) { return con->OutputString(con, text); }
  HostPlatform p;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *con = p.SystemTable()->ConOut;
};

TEST_F(Console, CarriageReturnAndLineFeedAreSeparate) {
  Out(u"abc\ndef\rX");
  EXPECT_EQ(p.RowText(0), "abc");
  EXPECT_EQ(p.RowText(1), "X  def") << "LF keeps the column, CR returns to column 0";
  EXPECT_EQ(p.Mode().CursorColumn, 1);
  EXPECT_EQ(p.Mode().CursorRow, 1);
}

TEST_F(Console, WrapsAtColumnEightyAndScrollsAtTheBottom) {
  std::u16string line(80, u'a');
  Out(line.c_str());
  EXPECT_EQ(p.Mode().CursorRow, 1);
  EXPECT_EQ(p.Mode().CursorColumn, 0);
  Out(u"b");
  EXPECT_EQ(p.RowText(1), "b");

  con->ClearScreen(con);
  for (int i = 0; i < 30; ++i) {
    std::u16string text = u"line " + std::u16string(1, u'A' + i) + u"\r\n";
    Out(text.c_str());
  }
  EXPECT_EQ(p.RowText(0), "line G") << "the first six lines scrolled away";
  EXPECT_EQ(p.RowText(23), "line ^");
  EXPECT_EQ(p.RowText(24), "");
  EXPECT_EQ(p.Mode().CursorRow, 24);
}

TEST_F(Console, AttributesCursorAndClearing) {
  con->SetAttribute(con, 0x0C);
  Out(u"red");
  con->SetAttribute(con, 0x0A);
  Out(u"\x00e9"); // shown as '?' in narrow text
  EXPECT_EQ(p.RowText(0), "red?");
  EXPECT_EQ(p.AttributeAt(0, 0), 0x0C);
  EXPECT_EQ(p.AttributeAt(3, 0), 0x0A);
  EXPECT_EQ(p.Mode().Attribute, 0x0A);

  EXPECT_EQ(con->SetCursorPosition(con, 80, 0), EFI_UNSUPPORTED);
  EXPECT_EQ(con->SetCursorPosition(con, 0, 25), EFI_UNSUPPORTED);
  EXPECT_EQ(p.Mode().CursorColumn, 4) << "a refused position leaves the cursor";
  EXPECT_EQ(con->SetCursorPosition(con, 79, 24), EFI_SUCCESS);
  EXPECT_EQ(p.Mode().CursorColumn, 79);
  EXPECT_EQ(p.Mode().CursorRow, 24);

  EXPECT_TRUE((p.Mode().CursorVisible != 0));
  con->EnableCursor(con, 0);
  EXPECT_FALSE((p.Mode().CursorVisible != 0));

  con->ClearScreen(con);
  EXPECT_EQ(p.ScreenText(), std::string(25, '\n'));
  EXPECT_EQ(p.Mode().CursorColumn, 0);
  EXPECT_EQ(p.Mode().CursorRow, 0);

  EXPECT_EQ(Attributes(p), (std::vector<uint64_t>{0x0C, 0x0A}));
  EXPECT_EQ(static_cast<int>(ConsoleCalls(p, ConsoleOp::SetCursorPosition).size()), 3);
  EXPECT_EQ(static_cast<int>(ConsoleCalls(p, ConsoleOp::OutputString).size()), 2);
  EXPECT_EQ(p.Recorded<sim::ConsoleCall>()[5].op, ConsoleOp::SetCursorPosition);
  EXPECT_EQ(p.Recorded<sim::ConsoleCall>()[5].a, 0u);
  EXPECT_EQ(p.Recorded<sim::ConsoleCall>()[5].b, 25u);
  EXPECT_EQ(p.OutputText(), "red?");
}

TEST(HostPool, AccountsForEveryAllocationAndCatchesBadFrees) {
  HostPlatform p;
  EFI_BOOT_SERVICES *bs = p.SystemTable()->BootServices;
  void *a = nullptr;
  void *b = nullptr;
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 642, &a), EFI_SUCCESS);
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 100, &b), EFI_SUCCESS);
  EXPECT_EQ(p.Pool().outstandingCount, 2u);
  EXPECT_EQ(p.Pool().outstandingBytes, 742u);
  EXPECT_FALSE(p.PoolBalanced());
  EXPECT_EQ(bs->FreePool(a), EFI_SUCCESS);
  EXPECT_EQ(p.Pool().outstandingBytes, 100u);
  EXPECT_EQ(p.Pool().peakBytes, 742u);
  EXPECT_EQ(bs->FreePool(b), EFI_SUCCESS);
  EXPECT_TRUE(p.PoolBalanced());

  EXPECT_NE(bs->FreePool(a), EFI_SUCCESS);
  int local = 0;
  EXPECT_NE(bs->FreePool(&local), EFI_SUCCESS);
  EXPECT_EQ(p.PoolErrors().size(), 2u);
  EXPECT_FALSE(p.PoolBalanced());
  EXPECT_EQ(p.Pool().totalAllocations, 2u);
  EXPECT_EQ(p.Pool().frees, 2u);
}

TEST(HostPool, InjectedAllocationFailures) {
  HostOptions o;
  o.failAllocationNumber = 2;
  HostPlatform p(o);
  EFI_BOOT_SERVICES *bs = p.SystemTable()->BootServices;
  void *a = nullptr;
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &a), EFI_SUCCESS);
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &a), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &a), EFI_SUCCESS);
  p.Options().failAllAllocations = true;
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 8, &a), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(p.Pool().failedAllocations, 2u);
  EXPECT_EQ(p.Pool().totalAllocations, 2u);
}

TEST(HostHandles, SmbusControllerIsFoundAndItsListIsPoolMemory) {
  HostPlatform p;
  EFI_BOOT_SERVICES *bs = p.SystemTable()->BootServices;
  UINTN count = 0;
  EFI_HANDLE *list = nullptr;
  ASSERT_EQ(bs->LocateHandleBuffer(ByProtocol, &kSmbusHcProtocolGuid, nullptr, &count, &list),
            EFI_SUCCESS);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(p.Pool().outstandingCount, 1u);
  void *iface = nullptr;
  EXPECT_EQ(bs->HandleProtocol(list[0], &kSmbusHcProtocolGuid, &iface), EFI_SUCCESS);
  EXPECT_EQ(iface, &p.Bus().protocol);
  EXPECT_EQ(bs->HandleProtocol(list[0], &kShellParametersProtocolGuid, &iface), EFI_UNSUPPORTED);
  EXPECT_EQ(bs->LocateProtocol(&kSmbusHcProtocolGuid, nullptr, &iface), EFI_SUCCESS);
  EXPECT_EQ(iface, &p.Bus().protocol);
  EXPECT_EQ(bs->FreePool(list), EFI_SUCCESS);
  EXPECT_TRUE(p.PoolBalanced());

  HostOptions &options = p.Options();
  options.handleProtocolFails = true;
  ASSERT_EQ(bs->LocateHandleBuffer(ByProtocol, &kSmbusHcProtocolGuid, nullptr, &count, &list),
            EFI_SUCCESS);
  EXPECT_EQ(bs->HandleProtocol(list[0], &kSmbusHcProtocolGuid, &iface), EFI_UNSUPPORTED);
  bs->FreePool(list);
}

TEST(HostHandles, NoControllerMeansNotFoundAndNoAllocation) {
  HostOptions o;
  o.smbusControllers = 0;
  HostPlatform p(o);
  EFI_BOOT_SERVICES *bs = p.SystemTable()->BootServices;
  UINTN count = 7;
  EFI_HANDLE *list = nullptr;
  EXPECT_EQ(bs->LocateHandleBuffer(ByProtocol, &kSmbusHcProtocolGuid, nullptr, &count, &list),
            EFI_NOT_FOUND);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(p.Pool().totalAllocations, 0u);
  void *iface = nullptr;
  EXPECT_EQ(bs->LocateProtocol(&kSmbusHcProtocolGuid, nullptr, &iface), EFI_NOT_FOUND);
  // Protocols can be added at run time, as a driver would.
  EFI_HANDLE handle = nullptr;
  EXPECT_EQ(bs->InstallProtocolInterface(&handle, &kSmbusHcProtocolGuid, 0, &p.Bus().protocol),
            EFI_SUCCESS);
  EXPECT_EQ(bs->InstallProtocolInterface(&handle, &kSmbusHcProtocolGuid, 0, &p.Bus().protocol),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(bs->LocateHandleBuffer(ByProtocol, &kSmbusHcProtocolGuid, nullptr, &count, &list),
            EFI_SUCCESS);
  EXPECT_EQ(list[0], handle);
  bs->FreePool(list);
}

TEST(HostTime, StallAdvancesSimulatedTime) {
  HostPlatform p;
  EXPECT_EQ(sim::gSimNowMicros, 0u);
  p.SystemTable()->BootServices->Stall(1000000);
  p.SystemTable()->BootServices->Stall(10);
  EXPECT_EQ(sim::gSimNowMicros, 1000010u);
  EXPECT_EQ(Stalls(p), (std::vector<uint64_t>{1000000, 10}));
}

TEST(HostPorts, CmosIndexIsLatchedWithoutTheNmiBit) {
  HostOptions o;
  o.cmos[0x79] = 0xF0;
  HostPlatform p(o);
  PortWrite8(0x70, 0x79);
  EXPECT_EQ(PortRead8(0x71), 0xF0);
  PortWrite8(0x70, 0x80 | 0x70); // NMI disabled, index 0x70
  PortWrite8(0x71, 0x02);
  EXPECT_EQ(p.Cmos(0x70), 0x02);
  EXPECT_EQ(PortRead8(0x71), 0x02) << "the index stays latched";
  PortWrite8(0x66, 0x8B);
  PortWrite8(0x66, 0x8A);
  EXPECT_EQ(p.EcBytes(), (std::vector<uint8_t>{0x8B, 0x8A}));
  EXPECT_EQ(p.Recorded<sim::PortAccess>(), (std::vector<sim::PortAccess>{{0x70, true, 0x79},
                                                                         {0x71, false, 0xF0},
                                                                         {0x70, true, 0xF0},
                                                                         {0x71, true, 0x02},
                                                                         {0x71, false, 0x02},
                                                                         {0x66, true, 0x8B},
                                                                         {0x66, true, 0x8A}}));
}

TEST(HostText, Utf8Conversion) {
  EXPECT_EQ(sim::Utf8ToUcs2("a\xC3\xA9\xE2\x82\xAC"), u"a\u00e9\u20ac");
  EXPECT_EQ(sim::Utf8ToUcs2("\xF0\x9F\x98\x80"), u"\xD83D\xDE00");
  EXPECT_EQ(sim::Utf8ToUcs2("\xC3"), u"\uFFFD");
  EXPECT_EQ(sim::Utf8ToUcs2("\xC0\xAF"), u"\uFFFD\uFFFD") << "overlong forms are invalid";
}

} // namespace

namespace {

constexpr EFI_GUID kTestVendor = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};

TEST(HostVariables, KeepTheUefiRulesOnAttributesAndSizes) {
  HostPlatform p;
  EFI_RUNTIME_SERVICES *rt = p.SystemTable()->RuntimeServices;
  const uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_EQ(rt->SetVariable(u"V", &kTestVendor, 0x3, 4, data), EFI_SUCCESS);
  // Runtime access needs boot-service access; other attributes cannot rewrite a variable.
  EXPECT_EQ(rt->SetVariable(u"W", &kTestVendor, 0x5, 4, data), EFI_INVALID_PARAMETER);
  EXPECT_EQ(rt->SetVariable(u"V", &kTestVendor, 0x7, 4, data), EFI_INVALID_PARAMETER);

  uint8_t out[4] = {};
  UINTN size = 2;
  uint32_t attributes = 0;
  EXPECT_EQ(rt->GetVariable(u"V", &kTestVendor, &attributes, &size, out), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(rt->GetVariable(u"V", &kTestVendor, &attributes, &size, out), EFI_SUCCESS);
  EXPECT_EQ(attributes, 0x3u);
  EXPECT_EQ(out[3], 4);
  EXPECT_EQ(rt->GetVariable(u"V", &kShellInterfaceGuid, nullptr, &size, out), EFI_NOT_FOUND);

  EXPECT_EQ(rt->SetVariable(u"V", &kTestVendor, 0x3, 0, nullptr), EFI_SUCCESS);
  EXPECT_EQ(rt->SetVariable(u"V", &kTestVendor, 0x3, 0, nullptr), EFI_NOT_FOUND);
}

TEST(HostVariables, NonVolatileOnesAndCmosSurviveAPowerCycle) {
  HostOptions o;
  o.faults.failFrom = 0;
  HostPlatform p(o);
  EFI_RUNTIME_SERVICES *rt = p.SystemTable()->RuntimeServices;
  const uint8_t data[1] = {7};
  ASSERT_EQ(rt->SetVariable(u"Kept", &kTestVendor, 0x3, 1, data), EFI_SUCCESS);
  ASSERT_EQ(rt->SetVariable(u"Lost", &kTestVendor, 0x2, 1, data), EFI_SUCCESS);
  p.SetCmos(0x79, 0xF4);
  p.Chip().flash[0] = 0x42;
  p.PowerCycle();
  EXPECT_NE(p.FindVariable(u"Kept", kTestVendor), nullptr);
  EXPECT_EQ(p.FindVariable(u"Lost", kTestVendor), nullptr);
  EXPECT_EQ(p.Cmos(0x79), 0xF4);
  EXPECT_EQ(p.Chip().flash[0], 0x42);
  EXPECT_FALSE(p.Chip().hostAccess);
  EXPECT_EQ(p.Run({"Panelup.efi", "/s"}), 22) << "the bus answers again";
  EXPECT_NE(p.OutputText().find("02.06.12"), std::string::npos);
}

} // namespace

// Register access over the SMBus: the exact Execute parameters of the two primitives, and what a
// read gives when it does not reach the chip. The identity reads' transaction lists are part of
// the whole runs in command_sequence_test.
#include <gtest/gtest.h>

#include <vector>

#include "chip/registers.h"
#include "sim/host/host_platform.h"
#include "uefi/services.h"

namespace {

struct ExecuteCall {
  const EFI_SMBUS_HC_PROTOCOL *self;
  UINTN address;
  UINTN command;
  uint32_t operation;
  BOOLEAN pecCheck;
  UINTN length;       // *Length as passed
  uint8_t bufferByte; // *Buffer as passed
  bool operator==(const ExecuteCall &) const = default;
};

std::vector<ExecuteCall> gCalls;
decltype(EFI_SMBUS_HC_PROTOCOL::Execute) gForward = nullptr;

// Records the call, forwards it to the simulated controller, then scribbles over Length so a
// caller that does not set it afresh is caught on its next call.
EFI_STATUS EFIAPI SpyExecute(const EFI_SMBUS_HC_PROTOCOL *self, EFI_SMBUS_DEVICE_ADDRESS address,
                             UINTN command, EFI_SMBUS_OPERATION operation, BOOLEAN pecCheck,
                             UINTN *length, void *buffer) {
  gCalls.push_back(
      {self, address, command, operation, pecCheck, *length, *static_cast<uint8_t *>(buffer)});
  EFI_STATUS status = gForward(self, address, command, operation, pecCheck, length, buffer);
  *length = 0x55;
  return status;
}

class Registers : public ::testing::Test {
protected:
  void SetUp() override {
    SetSystemTable(platform.SystemTable());
    ResetChipBus();
    ASSERT_EQ(LocateChipBus(), EFI_SUCCESS);
    gCalls.clear();
    gForward = platform.Bus().protocol.Execute;
    platform.Bus().protocol.Execute = SpyExecute;
  }
  void TearDown() override {
    platform.Bus().protocol.Execute = gForward;
    ReleaseChipBus();
  }
  const EFI_SMBUS_HC_PROTOCOL *Protocol() { return &platform.Bus().protocol; }

  sim::HostPlatform platform;
};

TEST_F(Registers, ReadIsOneByteReadWithBufferPresetToFF) {
  sim::BridgeChip &chip = platform.Chip();
  chip.bank = 0x33;
  chip.registers[0x33][0x0C] = 0x42;
  EXPECT_EQ(ReadRegister(0x0C), 0x42);
  EXPECT_EQ(ReadRegister(0x0C), 0x42);
  const ExecuteCall expected{Protocol(), 0x2B, 0x0C, EfiSmbusReadByte, 0, 1, 0xFF};
  EXPECT_EQ(gCalls, (std::vector<ExecuteCall>{expected, expected}));
}

TEST_F(Registers, WriteIsOneByteWrite) {
  WriteRegister(0x5A, 0x86);
  WriteRegister(0xFF, 0xD2);
  EXPECT_EQ(gCalls, (std::vector<ExecuteCall>{
                        {Protocol(), 0x2B, 0x5A, EfiSmbusWriteByte, 0, 1, 0x86},
                        {Protocol(), 0x2B, 0xFF, EfiSmbusWriteByte, 0, 1, 0xD2},
                    }));
  EXPECT_EQ(platform.Chip().bank, 0xD2);
}

// A read that does not reach the chip gives 0xFF, whatever the register holds: a transfer that
// fails, or no interface after a failed bus search. Writes then go nowhere.
TEST(RegistersOffTheBus, FailedReadsGiveFF) {
  struct Case {
    const char *what = "";
    sim::HostOptions options;
    EFI_STATUS located = EFI_SUCCESS;
  };
  std::vector<Case> cases(3);
  cases[0] = {"transfers fail", {}, EFI_SUCCESS};
  cases[0].options.faults.failFrom = 0;
  cases[1] = {"no controller", {}, EFI_PROTOCOL_ERROR};
  cases[1].options.smbusControllers = 0;
  cases[2] = {"HandleProtocol refused", {}, EFI_PROTOCOL_ERROR};
  cases[2].options.handleProtocolFails = true;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::HostPlatform platform(c.options);
    SetSystemTable(platform.SystemTable());
    ResetChipBus();
    EXPECT_EQ(LocateChipBus(), c.located);
    platform.Chip().registers[0][0x10] = 0x00;
    EXPECT_EQ(ReadRegister(0x10), 0xFF);
    WriteRegister(0xFF, 0x80);
    EXPECT_EQ(platform.Chip().bank, 0);
    ReleaseChipBus();
    EXPECT_TRUE(platform.PoolBalanced());
  }
}

} // namespace

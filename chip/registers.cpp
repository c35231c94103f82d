// The chip on the SMBus, 7-bit address 0x2B: one byte-data transfer per register access, no block
// transfers. Registers are in banks: 0xFF, present in every bank, selects the bank for the accesses
// that follow. The ones used outside the flash controller (chip/flash.cpp):
//
//   bank 0x80, 0xEE        0x01 takes the chip's registers and flash controller for the host;
//                          0x00 gives them back to the chip's own firmware. Without access the
//                          identity, version and flash registers read 0x00.
//   bank 0xA0, 0x00, 0x01  chip id, high and low byte: 0x16, 0x05 on the bridge we update
//   bank 0xD2, 0x0C-0x0E   CID, PID and Txx of the firmware now in the chip's flash
//
// The two bus-search messages are the only text here; like every operator message of the tool
// they are exact to the byte on purpose (console/console.h).
#include "chip/registers.h"

#include "console/console.h"
#include "uefi/services.h"

namespace {
EFI_SMBUS_HC_PROTOCOL *gSmbus = nullptr;
EFI_HANDLE *gHandleList = nullptr;
bool gBusFault = false;

// A bus that fails this many transfers in a row is dead for the rest of the run. No passing
// glitch (a lost arbitration, a missed acknowledge, a controller the firmware resets) lasts 64
// transfers, more than two whole page programs; on a dead bus each transfer waits out the
// controller's timeout (about 35 ms), so 64 of them cost some 2 s, where the rest of a /f (about
// 51,000 transfers) would keep the machine for half an hour.
constexpr uint32_t kDeadBusTransfers = 64;
uint32_t gFailedInARow = 0;
uint32_t gFailedInRun = 0;
bool gBusAbandoned = false;

// One byte-data transfer with the chip. The status is only noted: register accesses report
// nothing, and the key-area save and the read-back ask whether any failed.
void Transfer(uint8_t reg, EFI_SMBUS_OPERATION operation, uint8_t *byte) {
  UINTN length = 1;
  if (!gBusAbandoned && gSmbus != nullptr &&
      !EfiIsError(gSmbus->Execute(gSmbus, kChipSmbusAddress, reg, operation, 0, &length, byte))) {
    gFailedInARow = 0;
    return;
  }
  gBusFault = true;
  ++gFailedInARow;
  ++gFailedInRun;
  if (gFailedInARow >= kDeadBusTransfers || gFailedInRun >= kFailureBudget)
    gBusAbandoned = true;
}
} // namespace

void ResetChipBus() {
  gSmbus = nullptr;
  gHandleList = nullptr;
  gBusFault = false;
  gFailedInARow = 0;
  gFailedInRun = 0;
  gBusAbandoned = false;
}

EFI_STATUS LocateChipBus() {
  UINTN handleCount = 0;
  EFI_STATUS status = LocateHandleBuffer(kSmbusHcProtocolGuid, &handleCount, &gHandleList);
  if (EfiIsError(status)) {
    gHandleList = nullptr;
    Print(u"\n VTQ_001D VTQ_HandleProtocol EFI_PROTOCOL_ERROR= %r", status);
    return EFI_PROTOCOL_ERROR;
  }
  void *iface = nullptr;
  status = gHandleList && handleCount > 0
               ? HandleProtocol(gHandleList[0], kSmbusHcProtocolGuid, &iface)
               : EFI_NOT_FOUND;
  if (EfiIsError(status) || iface == nullptr) {
    if (!EfiIsError(status))
      status = EFI_NOT_FOUND;
    Print(u"\n VTQ_001C HandleProtocol  NG = %r \n", status);
    return EFI_PROTOCOL_ERROR;
  }
  gSmbus = static_cast<EFI_SMBUS_HC_PROTOCOL *>(iface);
  return EFI_SUCCESS;
}

bool ChipBusIsSimulated() {
  void *iface = nullptr;
  return gSmbus != nullptr && gHandleList != nullptr &&
         !EfiIsError(HandleProtocol(gHandleList[0], kSimulatedBusMarkGuid, &iface));
}

void ReleaseChipBus() {
  if (gHandleList)
    FreePool(gHandleList);
  gHandleList = nullptr;
}

uint8_t ReadRegister(uint8_t reg) {
  // A transfer that fails without writing the buffer reads as 0xFF, like a silent bus.
  uint8_t value = 0xFF;
  Transfer(reg, EfiSmbusReadByte, &value);
  return value;
}

void WriteRegister(uint8_t reg, uint8_t value) {
  Transfer(reg, EfiSmbusWriteByte, &value);
}

bool BusFaultSeen() {
  return gBusFault;
}

void ClearBusFault() {
  gBusFault = false;
}

bool ChipBusAbandoned() {
  return gBusAbandoned;
}

void SelectBank(uint8_t bank) {
  WriteRegister(kBankSelectRegister, bank);
}

void EnableRegisterAccess() {
  SelectBank(0x80);
  WriteRegister(0xEE, 0x01);
}

void ReleaseRegisterAccess() {
  SelectBank(0x80);
  WriteRegister(0xEE, 0x00);
}

uint16_t ReadChipId() {
  EnableRegisterAccess();
  SelectBank(0xA0);
  uint8_t high = ReadRegister(0x00);
  uint8_t low = ReadRegister(0x01);
  return static_cast<uint16_t>(high * 256 + low);
}

FirmwareVersion ReadOnboardVersion() {
  EnableRegisterAccess();
  SelectBank(0xD2);
  FirmwareVersion v{};
  v.cid = ReadRegister(0x0C);
  v.pid = ReadRegister(0x0D);
  v.txx = ReadRegister(0x0E);
  return v;
}

// EFI_SMBUS_HC_PROTOCOL, the SMBus host controller as the platform initialization interfaces
// define it.
#pragma once

#include "uefi/efi_types.h"

using EFI_SMBUS_DEVICE_ADDRESS = UINTN; // low 7 bits: the slave address
enum EFI_SMBUS_OPERATION : uint32_t {
  EfiSmbusQuickRead = 0,
  EfiSmbusQuickWrite = 1,
  EfiSmbusReceiveByte = 2,
  EfiSmbusSendByte = 3,
  EfiSmbusReadByte = 4,
  EfiSmbusWriteByte = 5,
};

struct EFI_SMBUS_HC_PROTOCOL {
  EFI_STATUS(EFIAPI *Execute)
  (const EFI_SMBUS_HC_PROTOCOL *This, EFI_SMBUS_DEVICE_ADDRESS SlaveAddress, UINTN Command,
   EFI_SMBUS_OPERATION Operation, BOOLEAN PecCheck, UINTN *Length, void *Buffer);
  void *ArpDevice;
  void *GetArpMap;
  void *Notify;
};
static_assert(sizeof(EFI_SMBUS_HC_PROTOCOL) == 32);

inline constexpr EFI_GUID kSmbusHcProtocolGuid = {
    0xE49D33ED, 0x513D, 0x4634, {0xB6, 0x98, 0x6F, 0x55, 0xAA, 0x75, 0x1C, 0x1B}};

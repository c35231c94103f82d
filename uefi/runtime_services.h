// The runtime services table; the clock, the wake alarm, the variable services and the reset are
// called.
#pragma once

#include "uefi/efi_types.h"

struct EFI_TIME {
  uint16_t Year; // 1900 - 9999
  uint8_t Month; // 1 - 12
  uint8_t Day;   // 1 - 31
  uint8_t Hour;  // 0 - 23
  uint8_t Minute;
  uint8_t Second;
  uint8_t Pad1;
  uint32_t Nanosecond;
  int16_t TimeZone;
  uint8_t Daylight;
  uint8_t Pad2;
};
static_assert(offsetof(EFI_TIME, Nanosecond) == 8);
static_assert(sizeof(EFI_TIME) == 16);

enum EFI_RESET_TYPE : uint32_t {
  EfiResetCold = 0,
  EfiResetWarm = 1,
  EfiResetShutdown = 2,
  EfiResetPlatformSpecific = 3,
};

struct EFI_RUNTIME_SERVICES {
  using GetTime_t = EFI_STATUS(EFIAPI *)(EFI_TIME *Time, void *Capabilities);
  using SetWakeupTime_t = EFI_STATUS(EFIAPI *)(BOOLEAN Enable, EFI_TIME *Time);
  using GetVariable_t = EFI_STATUS(EFIAPI *)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             uint32_t *Attributes, UINTN *DataSize, void *Data);
  using SetVariable_t = EFI_STATUS(EFIAPI *)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             uint32_t Attributes, UINTN DataSize, const void *Data);
  // Does not return.
  using ResetSystem_t = void(EFIAPI *)(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus,
                                       UINTN DataSize, void *ResetData);

  EFI_TABLE_HEADER Hdr;
  GetTime_t GetTime;
  void *SetTime;
  void *GetWakeupTime;
  SetWakeupTime_t SetWakeupTime;
  void *SetVirtualAddressMap;
  void *ConvertPointer;
  GetVariable_t GetVariable;
  void *GetNextVariableName;
  SetVariable_t SetVariable;
  void *GetNextHighMonotonicCount;
  ResetSystem_t ResetSystem;
  void *UpdateCapsule;
  void *QueryCapsuleCapabilities;
  void *QueryVariableInfo;
};
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetTime) == 24);
static_assert(offsetof(EFI_RUNTIME_SERVICES, SetWakeupTime) == 48);
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetVariable) == 72);
static_assert(offsetof(EFI_RUNTIME_SERVICES, GetNextVariableName) == 80);
static_assert(offsetof(EFI_RUNTIME_SERVICES, SetVariable) == 88);
static_assert(offsetof(EFI_RUNTIME_SERVICES, ResetSystem) == 104);
static_assert(offsetof(EFI_RUNTIME_SERVICES, QueryVariableInfo) == 128);
static_assert(sizeof(EFI_RUNTIME_SERVICES) == 136);

// Variable attributes.
constexpr uint32_t EFI_VARIABLE_NON_VOLATILE = 0x1;
constexpr uint32_t EFI_VARIABLE_BOOTSERVICE_ACCESS = 0x2;
constexpr uint32_t EFI_VARIABLE_RUNTIME_ACCESS = 0x4;

// The runtime services table; only the variable services are called.
#pragma once

#include "uefi/efi_types.h"

struct EFI_RUNTIME_SERVICES {
  using GetVariable_t = EFI_STATUS(EFIAPI *)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             uint32_t *Attributes, UINTN *DataSize, void *Data);
  using SetVariable_t = EFI_STATUS(EFIAPI *)(const CHAR16 *VariableName, const EFI_GUID *VendorGuid,
                                             uint32_t Attributes, UINTN DataSize, const void *Data);

  EFI_TABLE_HEADER Hdr;
  void *GetTime;
  void *SetTime;
  void *GetWakeupTime;
  void *SetWakeupTime;
  void *SetVirtualAddressMap;
  void *ConvertPointer;
  GetVariable_t GetVariable;
  void *GetNextVariableName;
  SetVariable_t SetVariable;
  void *GetNextHighMonotonicCount;
  void *ResetSystem;
  void *UpdateCapsule;
  void *QueryCapsuleCapabilities;
  void *QueryVariableInfo;
};
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

// The boot services table. Members we never call are void *, but every member is present and in
// order so the offsets match UEFI's.
#pragma once

#include "uefi/efi_types.h"

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;
  void *RaiseTPL;
  void *RestoreTPL;
  void *AllocatePages;
  void *FreePages;
  void *GetMemoryMap;
  EFI_STATUS(EFIAPI *AllocatePool)(uint32_t PoolType, UINTN Size, void **Buffer);
  EFI_STATUS(EFIAPI *FreePool)(void *Buffer);
  void *CreateEvent;
  void *SetTimer;
  void *WaitForEvent;
  void *SignalEvent;
  void *CloseEvent;
  void *CheckEvent;
  EFI_STATUS(EFIAPI *InstallProtocolInterface)
  (EFI_HANDLE *Handle, const EFI_GUID *Protocol, uint32_t InterfaceType, void *Interface);
  void *ReinstallProtocolInterface;
  EFI_STATUS(EFIAPI *UninstallProtocolInterface)
  (EFI_HANDLE Handle, const EFI_GUID *Protocol, void *Interface);
  EFI_STATUS(EFIAPI *HandleProtocol)(EFI_HANDLE Handle, const EFI_GUID *Protocol, void **Interface);
  void *Reserved;
  void *RegisterProtocolNotify;
  void *LocateHandle;
  void *LocateDevicePath;
  void *InstallConfigurationTable;
  void *LoadImage;
  void *StartImage;
  void *Exit;
  void *UnloadImage;
  void *ExitBootServices;
  void *GetNextMonotonicCount;
  EFI_STATUS(EFIAPI *Stall)(UINTN Microseconds);
  EFI_STATUS(EFIAPI *SetWatchdogTimer)
  (UINTN Timeout, uint64_t WatchdogCode, UINTN DataSize, const CHAR16 *WatchdogData);
  void *ConnectController;
  void *DisconnectController;
  void *OpenProtocol;
  void *CloseProtocol;
  void *OpenProtocolInformation;
  void *ProtocolsPerHandle;
  EFI_STATUS(EFIAPI *LocateHandleBuffer)
  (uint32_t SearchType, const EFI_GUID *Protocol, void *SearchKey, UINTN *NoHandles,
   EFI_HANDLE **Buffer);
  EFI_STATUS(EFIAPI *LocateProtocol)
  (const EFI_GUID *Protocol, void *Registration, void **Interface);
  void *InstallMultipleProtocolInterfaces;
};
static_assert(offsetof(EFI_BOOT_SERVICES, AllocatePool) == 64);
static_assert(offsetof(EFI_BOOT_SERVICES, FreePool) == 72);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallProtocolInterface) == 128);
static_assert(offsetof(EFI_BOOT_SERVICES, HandleProtocol) == 152);
static_assert(offsetof(EFI_BOOT_SERVICES, LoadImage) == 200);
static_assert(offsetof(EFI_BOOT_SERVICES, StartImage) == 208);
static_assert(offsetof(EFI_BOOT_SERVICES, Stall) == 248);
static_assert(offsetof(EFI_BOOT_SERVICES, SetWatchdogTimer) == 256);
static_assert(offsetof(EFI_BOOT_SERVICES, OpenProtocol) == 280);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateHandleBuffer) == 312);
static_assert(offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320);
static_assert(offsetof(EFI_BOOT_SERVICES, InstallMultipleProtocolInterfaces) == 328);

// Memory type of every allocation the tool makes.
constexpr uint32_t EfiBootServicesData = 4;
// LocateHandleBuffer search types.
constexpr uint32_t ByProtocol = 2;

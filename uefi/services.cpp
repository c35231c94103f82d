#include "uefi/services.h"

EFI_SYSTEM_TABLE *gST = nullptr;
EFI_BOOT_SERVICES *gBS = nullptr;
EFI_RUNTIME_SERVICES *gRT = nullptr;

void SetSystemTable(EFI_SYSTEM_TABLE *systemTable) {
  gST = systemTable;
  gBS = systemTable ? systemTable->BootServices : nullptr;
  gRT = systemTable ? systemTable->RuntimeServices : nullptr;
}

EFI_STATUS AllocatePool(UINTN size, void **buffer) {
  return gBS->AllocatePool(EfiBootServicesData, size, buffer);
}

void FreePool(void *buffer) {
  gBS->FreePool(buffer);
}

void Stall(UINTN microseconds) {
  gBS->Stall(microseconds);
}

EFI_STATUS LocateHandleBuffer(const EFI_GUID &protocol, UINTN *count, EFI_HANDLE **handles) {
  return gBS->LocateHandleBuffer(ByProtocol, &protocol, nullptr, count, handles);
}

EFI_STATUS HandleProtocol(EFI_HANDLE handle, const EFI_GUID &protocol, void **iface) {
  return gBS->HandleProtocol(handle, &protocol, iface);
}

EFI_STATUS GetVariable(const CHAR16 *name, const EFI_GUID &vendor, uint32_t *attributes,
                       UINTN *size, void *data) {
  if (gRT == nullptr)
    return EFI_UNSUPPORTED;
  return gRT->GetVariable(name, &vendor, attributes, size, data);
}

EFI_STATUS SetVariable(const CHAR16 *name, const EFI_GUID &vendor, uint32_t attributes, UINTN size,
                       const void *data) {
  if (gRT == nullptr)
    return EFI_UNSUPPORTED;
  return gRT->SetVariable(name, &vendor, attributes, size, data);
}

EFI_STATUS GetTime(EFI_TIME *time) {
  if (gRT == nullptr || gRT->GetTime == nullptr)
    return EFI_UNSUPPORTED;
  return gRT->GetTime(time, nullptr);
}

EFI_STATUS SetWakeupTime(bool enable, EFI_TIME *time) {
  if (gRT == nullptr || gRT->SetWakeupTime == nullptr)
    return EFI_UNSUPPORTED;
  return gRT->SetWakeupTime(enable ? 1 : 0, time);
}

void ResetSystem(EFI_RESET_TYPE type) {
  if (gRT != nullptr && gRT->ResetSystem != nullptr)
    gRT->ResetSystem(type, EFI_SUCCESS, 0, nullptr);
}

EFI_STATUS SetWatchdogTimer(UINTN seconds) {
  if (gBS == nullptr || gBS->SetWatchdogTimer == nullptr)
    return EFI_UNSUPPORTED;
  return gBS->SetWatchdogTimer(seconds, 0, 0, nullptr);
}

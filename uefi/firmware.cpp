#include "uefi/firmware.h"

EFI_SYSTEM_TABLE *gST = nullptr;
EFI_BOOT_SERVICES *gBS = nullptr;
EFI_HANDLE gImageHandle = nullptr;

void SetFirmware(EFI_HANDLE image, EFI_SYSTEM_TABLE *systemTable) {
  gImageHandle = image;
  gST = systemTable;
  gBS = systemTable ? systemTable->BootServices : nullptr;
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

// The firmware handed to the tool at entry, and thin wrappers around the boot services used.
#pragma once

#include "uefi/protocols.h"

extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_HANDLE gImageHandle;

void SetFirmware(EFI_HANDLE image, EFI_SYSTEM_TABLE *systemTable);

EFI_STATUS AllocatePool(UINTN size, void **buffer);
void FreePool(void *buffer);
void Stall(UINTN microseconds);
EFI_STATUS LocateHandleBuffer(const EFI_GUID &protocol, UINTN *count, EFI_HANDLE **handles);
EFI_STATUS HandleProtocol(EFI_HANDLE handle, const EFI_GUID &protocol, void **iface);

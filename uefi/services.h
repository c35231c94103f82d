// The UEFI system table handed to the tool at entry, and thin wrappers around the services used.
#pragma once

#include "uefi/system_table.h"

extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_RUNTIME_SERVICES *gRT;

void SetSystemTable(EFI_SYSTEM_TABLE *systemTable);

EFI_STATUS AllocatePool(UINTN size, void **buffer);
void FreePool(void *buffer);
void Stall(UINTN microseconds);
EFI_STATUS LocateHandleBuffer(const EFI_GUID &protocol, UINTN *count, EFI_HANDLE **handles);
EFI_STATUS HandleProtocol(EFI_HANDLE handle, const EFI_GUID &protocol, void **iface);

// The real-time clock's date and time; the capabilities are not asked for.
EFI_STATUS GetTime(EFI_TIME *time);
// The clock's alarm that switches the machine on again (from the soft-off state, where the
// platform can).
EFI_STATUS SetWakeupTime(bool enable, EFI_TIME *time);
// Resets the machine or switches it off; does not return on a firmware that provides it.
void ResetSystem(EFI_RESET_TYPE type);
// The boot services' watchdog: `seconds` from now it resets the machine; 0 disarms it. Code 0 and
// no data, as the boot manager arms it.
EFI_STATUS SetWatchdogTimer(UINTN seconds);

// Variable services. GetVariable takes the buffer's size in *size and leaves the variable's size
// there (on EFI_BUFFER_TOO_SMALL, the size it needs); a size of 0 to SetVariable deletes.
EFI_STATUS GetVariable(const CHAR16 *name, const EFI_GUID &vendor, uint32_t *attributes,
                       UINTN *size, void *data);
EFI_STATUS SetVariable(const CHAR16 *name, const EFI_GUID &vendor, uint32_t attributes, UINTN size,
                       const void *data);

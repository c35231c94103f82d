// The system table an image is handed at entry.
#pragma once

#include "uefi/boot_services.h"
#include "uefi/runtime_services.h"
#include "uefi/simple_text_output.h"

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  uint32_t FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  void *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut;
  EFI_HANDLE StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  void *ConfigurationTable;
};
static_assert(offsetof(EFI_SYSTEM_TABLE, ConOut) == 64);
static_assert(offsetof(EFI_SYSTEM_TABLE, RuntimeServices) == 88);
static_assert(offsetof(EFI_SYSTEM_TABLE, BootServices) == 96);

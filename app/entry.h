// Application entry of Panelup.efi: fetches and converts the shell's arguments and runs the tool's
// main entry.
#pragma once

#include "uefi/system_table.h"

extern "C" EFI_STATUS EFIAPI EfiMain(EFI_HANDLE image, EFI_SYSTEM_TABLE *systemTable);

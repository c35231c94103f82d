// EFI_SHELL_PARAMETERS_PROTOCOL: the arguments current shells put on the image handle.
#pragma once

#include "uefi/efi_types.h"

struct EFI_SHELL_PARAMETERS_PROTOCOL {
  CHAR16 **Argv;
  UINTN Argc;
  void *StdIn;
  void *StdOut;
  void *StdErr;
};
static_assert(offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argc) == 8);

inline constexpr EFI_GUID kShellParametersProtocolGuid = {
    0x752F3136, 0x4E16, 0x4FDC, {0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA}};

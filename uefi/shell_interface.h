// EFI_SHELL_INTERFACE: the arguments older shells put on the image handle instead.
#pragma once

#include "uefi/efi_types.h"

struct EFI_SHELL_INTERFACE {
  EFI_HANDLE ImageHandle;
  void *Info;
  CHAR16 **Argv;
  UINTN Argc;
  CHAR16 **RedirArgv;
  UINTN RedirArgc;
  void *StdIn;
  void *StdOut;
  void *StdErr;
  void *ArgInfo;
  BOOLEAN EchoOn;
};
static_assert(offsetof(EFI_SHELL_INTERFACE, Argv) == 16);
static_assert(offsetof(EFI_SHELL_INTERFACE, Argc) == 24);

inline constexpr EFI_GUID kShellInterfaceGuid = {
    0x47C7B223, 0xC42A, 0x11D2, {0x8E, 0x57, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

#include "app/entry.h"

#include "app/main.h"
#include "uefi/arguments.h"
#include "uefi/services.h"

extern "C" EFI_STATUS EFIAPI EfiMain(EFI_HANDLE image, EFI_SYSTEM_TABLE *systemTable) {
  SetSystemTable(systemTable);
  char **argv = nullptr;
  int argc = GetShellArguments(image, u"Panelup.efi", &argv);
  int32_t result = PanelupMain(argc, argv, ArgumentsWereCut(), ArgumentsOrigin());
  // The shell sees the 32-bit result sign-extended to the 64-bit status.
  return static_cast<EFI_STATUS>(static_cast<int64_t>(result));
}

#include "uefi/entry.h"

#include "app/main.h"
#include "uefi/arguments.h"
#include "uefi/firmware.h"

namespace {

// Stands in for the switch of a command line that was cut in conversion.
char gNoSwitch[] = "";

} // namespace

extern "C" EFI_STATUS EFIAPI EfiMain(EFI_HANDLE image, EFI_SYSTEM_TABLE *systemTable) {
  SetFirmware(systemTable);

  char **argv = nullptr;
  int argc = GetShellArguments(image, u"Panelup.efi", &argv);
  // A cut operand still reads as a number, only another one (a CID of many zeros cut before its
  // last digit reads 0): such a run acts as an unrecognised switch of the same count does, and
  // never reaches the chip.
  if (ArgumentsWereCut() && argc >= 2)
    argv[1] = gNoSwitch;
  int32_t result = PanelupMain(argc, argv);
  // The shell sees the 32-bit result sign-extended to the 64-bit status.
  return static_cast<EFI_STATUS>(static_cast<int64_t>(result));
}

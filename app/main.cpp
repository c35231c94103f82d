// Dispatch of the command line, banner and usage. Messages are exact to the byte on purpose (see
// console/console.h): do not tidy them.
#include "app/main.h"

#include "app/exit_status.h"
#include "app/operands.h"
#include "app/result_record.h"
#include "app/version_query.h"
#include "catalogue/catalogue.h"
#include "catalogue/support_list.h"
#include "chip/registers.h"
#include "console/console.h"
#include "update/update.h"
#include "uefi/efi_types.h"

namespace {

void ShowBanner() {
  SetCursorPosition(1, 1);
  Print(u" KOVA Panelup Utility Version : %s \n", u"[ V1.0.0.42-2022-09-09]");
}

void ShowUsage() {
  Print(u"\n\r Usage : ");
  Print(u"\n\r        Panelup.efi  /f  [ CID_0 ]  [ PID_1 ] ; flash the CID and PID LCD FW ");
  Print(u"\n\r        Panelup.efi  /s                       ; show current onboard FW version ");
  Print(u"\n\r        Panelup.efi  /g                       ; Get Supported FW of this version "
        u"tool ");
  Print(u"\n\n\r example:");
  Print(u"\n\r        Panelup.efi  /s  ");
  Print(u"\n\r        Panelup.efi  /g  ");
  Print(u"\n\r        Panelup.efi  /f  2 6  \n\n");
}

int32_t ExitStatusOf(UpdateResult result) {
  switch (result) {
  case UpdateResult::Passed:
    return kExitOk;
  case UpdateResult::CompareFailed:
    return kExitCompareFailed;
  case UpdateResult::StoppedBeforeErase:
  case UpdateResult::TestImageRefused:
    return kExitStoppedBeforeErase;
  case UpdateResult::WrongChip:
    break;
  }
  return kExitWrongChipOrSwitch;
}

int32_t RunFlash(const char *cidOperand, const char *pidOperand) {
  uint8_t cid = static_cast<uint8_t>(OperandValue(cidOperand) & 0xFF);
  uint8_t pid = static_cast<uint8_t>(OperandValue(pidOperand) & 0xFF);
  SetAttribute(kAttributeWhite);
  ChipBusHold hold;
  DeleteResultRecord();
  if (EfiIsError(LocateChipBus())) {
    StoreResultRecord(cid, pid, kExitBusNotFound, nullptr, nullptr);
    return kExitBusNotFound;
  }
  const UpdateOutcome outcome = UpdateProcedure(cid, pid);
  // The handle list goes back before the colour is restored (the hold's release then finds none).
  ReleaseChipBus();
  SetAttribute(kAttributeWhite);
  // The record comes after the last console call, so the screen is the same whether it is stored.
  const int32_t status = ExitStatusOf(outcome.result);
  // A refused test image read no version from the chip.
  const bool readOnboard = outcome.result != UpdateResult::TestImageRefused;
  StoreResultRecord(cid, pid, status, readOnboard ? &outcome.onboard : nullptr, &outcome.target);
  return status;
}

// Every run starts from the values a fresh load of the image would have.
void ResetRunState() {
  ResetChipBus();
  ResetCatalogueSelection();
  ShowAllEntries = false;
}

} // namespace

int32_t PanelupMain(int argc, char **argv, bool argumentsCut) {
  ResetRunState();
  if (argc < 1)
    return kExitOk;
  ClearScreen();
  ShowBanner();
  if (argc == 1) {
    ShowUsage();
    return kExitUsage;
  }
  const char *command = argumentsCut ? "" : argv[1];
  switch (argc) {
  case 2:
    if (IsSwitch(command, 'g')) {
      SupportList();
      return kExitSupportList;
    }
    if (IsSwitch(command, 's'))
      return VersionQuery();
    return kExitOk;
  case 3:
    if (!IsSwitch(command, 'g') || !MatchesAccessCode(argv[2]))
      return kExitBadAccessForm;
    ShowAllEntries = true;
    SupportList();
    return kExitFullSupportList;
  case 4:
    ClearScreen();
    if (!IsSwitch(command, 'f'))
      return kExitWrongChipOrSwitch;
    return RunFlash(argv[2], argv[3]);
  default:
    return kExitOk;
  }
}

// Dispatch of the command line, banner and usage. Messages are exact to the byte on purpose (see
// console/console.h): do not tidy them.
#include "app/main.h"

#include "formats/exit_status.h"
#include "app/operands.h"
#include "app/result_record.h"
#include "app/unattended.h"
#include "app/version_query.h"
#include "catalogue/catalogue.h"
#include "catalogue/support_list.h"
#include "chip/registers.h"
#include "console/console.h"
#include "update/update.h"
#include "uefi/efi_types.h"
#include "uefi/services.h"

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

// `fromBootOption`: started by a boot manager, where nobody need be at the machine.
int32_t RunFlash(const char *cidOperand, const char *pidOperand, bool fromBootOption) {
  uint8_t cid = static_cast<uint8_t>(OperandValue(cidOperand) & 0xFF);
  uint8_t pid = static_cast<uint8_t>(OperandValue(pidOperand) & 0xFF);
  // Several attempts on a slow controller can outlast the boot manager's five minutes, and its
  // reset halfway would leave the panel without firmware.
  SetWatchdogTimer(0);
  SetAttribute(kAttributeWhite);
  const Schedule schedule = fromBootOption ? TakeSchedule() : kShellRun;
  ChipBusHold hold;
  DeleteResultRecord();
  int32_t status = kExitBusNotFound;
  UpdateOutcome outcome{};
  const FirmwareVersion *from = nullptr;
  const FirmwareVersion *to = nullptr;
  if (!EfiIsError(LocateChipBus())) {
    outcome = UpdateProcedure(cid, pid, schedule.attempts);
    // The handle list goes back before the colour is restored (the hold's release then finds
    // none).
    ReleaseChipBus();
    SetAttribute(kAttributeWhite);
    status = ExitStatusOf(outcome.result);
    // A refused test image read no version from the chip.
    if (outcome.result != UpdateResult::TestImageRefused)
      from = &outcome.onboard;
    to = &outcome.target;
  }
  // The record comes after the last console call, so the screen is the same whether it is stored,
  // and it says how the boot ends, so the wake alarm is settled first.
  const BootEnd end = SettleBootEnd(schedule.then);
  StoreResultRecord(cid, pid, status, from, to, end, outcome.attempts);
  if (fromBootOption)
    EndBoot(end);
  return status;
}

// Every run starts from the values a fresh load of the image would have.
void ResetRunState() {
  ResetChipBus();
  ResetCatalogueSelection();
  ShowAllEntries = false;
}

} // namespace

int32_t PanelupMain(int argc, char **argv, bool argumentsCut, ArgumentOrigin origin) {
  ResetRunState();
  if (origin == ArgumentOrigin::LoadOptionsRefused) {
    ClearScreen();
    ShowBanner();
    Print(u"\n VTQ_003A  boot option data is neither UCS-2 nor ASCII text, nothing done\n");
    return kExitLoadOptionsRefused;
  }
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
    return RunFlash(argv[2], argv[3], origin == ArgumentOrigin::LoadOptions);
  default:
    return kExitOk;
  }
}

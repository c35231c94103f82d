// simctl.efi: sets up and inspects the simulated chip of SimChip.efi from the UEFI Shell, and
// reads and writes CMOS bytes. One command per run, one result line per fact.
//
// Exit status: 0 done, 1 bad usage, 2 SimChip.efi not loaded (or from another build), 3 a
// variable service failed.
#include "sim/efi/simctl.h"

#include "console/console.h"
#include "uefi/arguments.h"
#include "uefi/services.h"

SIM_CONTROL_PROTOCOL *gControl = nullptr;

namespace {

// Finds SimChip.efi's control protocol; false (with a message) when it is missing or from
// another build.
bool FindSimChip() {
  void *iface = nullptr;
  EFI_STATUS status = gBS->LocateProtocol(&kSimControlProtocolGuid, nullptr, &iface);
  if (EfiIsError(status) || iface == nullptr) {
    Print(u"simctl: SimChip.efi is not loaded (%r)\n", status);
    return false;
  }
  auto *control = static_cast<SIM_CONTROL_PROTOCOL *>(iface);
  if (control->Version != kSimControlVersion || control->ChipSize != sizeof(sim::BridgeChip) ||
      control->BusSize != sizeof(sim::SimBus)) {
    Print(u"simctl: SimChip.efi is from another build (control version %u)\n", control->Version);
    return false;
  }
  gControl = control;
  return true;
}

} // namespace

EFI_STATUS Usage() {
  Print(u"usage: simctl id HHLL              chip id, hex\n");
  Print(u"       simctl version C P T        firmware version in the chip, decimal\n");
  Print(u"       simctl reset                power the chip on again with its settings\n");
  Print(u"       simctl keyarea blank|zero|factory  key area a reset gives: none, 0x00, its own\n");
  Print(u"       simctl cycle                end a power cut: flash kept, bus faults gone\n");
  Print(u"       simctl mark on|off          the simulator's mark on the SMBus controller\n");
  Print(u"       simctl persist              keep the chip for the next boot\n");
  Print(u"       simctl backup               the tool's key backup variable, against the chip\n");
  Print(u"       simctl backup plant SEED    key area of key seed SEED as backup (hex)\n");
  Print(u"       simctl cmos set IDX VAL     hex, IDX 00..7F\n");
  Print(u"       simctl cmos get IDX         hex\n");
  Print(u"       simctl fault stuck ADDR MASK   flash byte ADDR keeps MASK bits set (hex)\n");
  Print(u"       simctl fault key OFFSET        key-area byte OFFSET programs wrong (hex)\n");
  Print(u"       simctl fault ignore-writes     the chip ignores every register write\n");
  Print(u"       simctl fault bus-fail-from N   transactions fail from N on (decimal)\n");
  Print(u"       simctl fault bus-fail-at N K S transaction N and K-1 more, S apart, fail\n");
  Print(u"       simctl fault flip-read N MASK  read N (decimal) gets MASK flipped (hex)\n");
  Print(u"       simctl fault clear             no faults\n");
  Print(u"       simctl report\n");
  return kExitUsage;
}

namespace {

EFI_STATUS Run(int argc, char **argv) {
  if (argc < 2)
    return Usage();
  const char *command = argv[1];
  // CMOS is the platform's own, so it needs no simulated chip.
  if (Equal(command, "cmos"))
    return Cmos(argc, argv);
  bool known = Equal(command, "id") || Equal(command, "version") || Equal(command, "reset") ||
               Equal(command, "cycle") || Equal(command, "persist") || Equal(command, "backup") ||
               Equal(command, "fault") || Equal(command, "report") || Equal(command, "keyarea") ||
               Equal(command, "mark");
  if (!known)
    return Usage();
  if (!FindSimChip())
    return kExitNoSimChip;
  if (Equal(command, "id") && argc == 3)
    return SetChipId(argv[2]);
  if (Equal(command, "version") && argc == 5)
    return SetVersion(argv[2], argv[3], argv[4]);
  if (Equal(command, "reset") && argc == 2)
    return Reset();
  if (Equal(command, "keyarea") && argc == 3)
    return SetKeyArea(argv[2]);
  if (Equal(command, "mark") && argc == 3)
    return SetMark(argv[2]);
  if (Equal(command, "cycle") && argc == 2)
    return Cycle();
  if (Equal(command, "persist") && argc == 2)
    return Persist();
  if (Equal(command, "backup") && argc == 2)
    return ShowBackup();
  if (Equal(command, "backup") && argc == 4 && Equal(argv[2], "plant"))
    return PlantBackup(argv[3]);
  if (Equal(command, "fault"))
    return Fault(argc, argv);
  if (Equal(command, "report") && argc == 2)
    return Report();
  return Usage();
}

} // namespace

extern "C" EFI_STATUS EFIAPI SimctlEntry(EFI_HANDLE image, EFI_SYSTEM_TABLE *systemTable) {
  SetSystemTable(systemTable);
  gControl = nullptr;
  char **argv = nullptr;
  int argc = GetShellArguments(image, u"simctl.efi", &argv);
  return Run(argc, argv);
}

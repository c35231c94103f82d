// SimChip.efi: a boot-service driver that gives UEFI an SMBus host controller with the
// simulated bridge chip behind it, and the control protocol simctl.efi uses to reach the model.
// The chip and bus live in static storage for as long as the driver stays loaded; a chip handed
// over to the variable store before a power-off comes back from it here (sim/efi/chip_store.h).
#include "catalogue/crc32.h"
#include "sim/efi/chip_store.h"
#include "sim/efi/command_words.h"
#include "sim/efi/sim_control.h"
#include "uefi/arguments.h"
#include "uefi/services.h"
// clang-tidy 14 reports this include as a duplicate, though nothing else brings it in.
#include "chip/simulated_bus.h" // NOLINT(readability-duplicate-include)

namespace {

constinit sim::BridgeChip gChip{};
constinit sim::SimBus gBus{};
constinit SIM_CONTROL_PROTOCOL gControl{};

constexpr uint32_t kNativeInterface = 0; // EFI_NATIVE_INTERFACE
using StallService = EFI_STATUS(EFIAPI *)(UINTN microseconds);
StallService gUefiStall = nullptr;

// The model's clock is modelled bus time (added by the bus) plus every Stall, as on the host: the
// tool waits with Stall (one second after the erase, for one) and the model must see that wait
// pass. Real time would not do: under emulation the bus transfers take far less real time than
// they model, and a clock rate calibrated against Stall comes out a few per cent short.
EFI_STATUS EFIAPI CountedStall(UINTN microseconds) {
  sim::gSimNowMicros += microseconds;
  return gUefiStall(microseconds);
}

// Every caller reaches Stall through the one boot services table, so the driver takes the entry
// over (and fixes the table's checksum).
void HookStall() {
  gUefiStall = gBS->Stall;
  gBS->Stall = CountedStall;
  gBS->Hdr.CRC32 = 0;
  gBS->Hdr.CRC32 = Crc32(reinterpret_cast<const uint8_t *>(gBS), gBS->Hdr.HeaderSize);
}

void EFIAPI PowerOn(SIM_CONTROL_PROTOCOL * /*This*/) {
  // A copy: ChipPowerOn overwrites the chip, configuration included.
  sim::ChipConfig config = gChip.config;
  sim::ChipPowerOn(gChip, config);
  sim::BusResetCounters(gBus);
  // A new chip now, whatever the load found.
  gControl.Restored = 0;
  gControl.RestoredBytes = 0;
}

void EFIAPI PowerCycle(SIM_CONTROL_PROTOCOL * /*This*/) {
  sim::ChipPowerCycle(gChip);
  gBus.faults = sim::BusFaults{};
  sim::BusResetCounters(gBus);
}

EFI_HANDLE gControllerHandle = nullptr;

EFI_STATUS EFIAPI SetMark(SIM_CONTROL_PROTOCOL * /*This*/, BOOLEAN marked) {
  if (marked)
    return gBS->InstallProtocolInterface(&gControllerHandle, &kSimulatedBusMarkGuid,
                                         kNativeInterface, nullptr);
  return gBS->UninstallProtocolInterface(gControllerHandle, &kSimulatedBusMarkGuid, nullptr);
}

// A fault for the whole load, from the driver's arguments: `bus-fail-from N` (decimal). The option
// data of a boot manager's driver option (Driver####) carries it, for tests that start the driver
// from there, where no shell is at hand to run simctl before the update. Anything else is ignored:
// a shell's load may hand the driver words of its own.
void TakeFaultFromArguments(EFI_HANDLE image) {
  char **argv = nullptr;
  const int argc = GetShellArguments(image, u"SimChip.efi", &argv);
  uint64_t from = 0;
  // The bound lies far beyond any run's transactions and keeps the number from overflowing.
  if (argc == 3 && !ArgumentsWereCut() && Equal(argv[1], "bus-fail-from") &&
      ParseDecimal(argv[2], 0xFFFFFFFF, &from))
    gBus.faults.failFrom = from;
}

} // namespace

extern "C" EFI_STATUS EFIAPI SimChipEntry(EFI_HANDLE image, EFI_SYSTEM_TABLE *systemTable) {
  SetSystemTable(systemTable);
  sim::gSimNowMicros = 0;

  sim::ChipPowerOn(gChip, sim::ChipConfig{});
  // A store that does not read back fails the load: a chip that silently came back new would
  // pass for one that lost its flash. The store is gone afterwards either way, so the next load
  // starts with a new chip.
  ChipStoreResult stored = RestoreChip(gChip);
  if (EfiIsError(stored.status))
    return stored.status;
  sim::BusInit(gBus, &gChip);
  TakeFaultFromArguments(image);

  gControl.Version = kSimControlVersion;
  gControl.ChipSize = sizeof(sim::BridgeChip);
  gControl.BusSize = sizeof(sim::SimBus);
  gControl.Chip = &gChip;
  gControl.Bus = &gBus;
  gControl.PowerOn = PowerOn;
  gControl.NowMicros = &sim::gSimNowMicros;
  gControl.PowerCycle = PowerCycle;
  gControl.Restored = stored.restored ? 1 : 0;
  gControl.RestoredBytes = stored.flashBytes;
  gControl.SetMark = SetMark;

  // The bus's protocol is its first member; the bus adds each transfer's time to the clock.
  EFI_STATUS status = gBS->InstallProtocolInterface(&gControllerHandle, &kSmbusHcProtocolGuid,
                                                    kNativeInterface, &gBus.protocol);
  if (EfiIsError(status))
    return status;
  HookStall();
  // Once the SMBus protocol is out the driver must stay resident, so a failure here only leaves
  // the tool refusing test images, or simctl without its protocol (it then reports SimChip as
  // not loaded).
  SetMark(&gControl, 1);
  gBS->InstallProtocolInterface(&gControllerHandle, &kSimControlProtocolGuid, kNativeInterface,
                                &gControl);
  return EFI_SUCCESS;
}

// SimChip.efi: a boot-service driver that gives UEFI an SMBus host controller with the
// simulated bridge chip behind it, and the control protocol simctl.efi uses to reach the model.
// The chip and bus live in static storage for as long as the driver stays loaded; a chip handed
// over to the variable store before a power-off comes back from it here (sim/efi/chip_store.h).
#include "catalogue/catalogue.h"
#include "catalogue/crc32.h"
#include "platform/cmos.h"
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

// What the driver's arguments ask for, in any order: `bus-fail-from N` (decimal), a fault for the
// whole load; `keep`, the chip kept in the store across every boot; `version C.P.T`, a new chip's
// version registers. The option data of a boot manager's driver option (Driver####) carries them,
// for tests that start the driver from there, where no shell is at hand to run simctl. Anything
// else is ignored: a shell's load may hand the driver words of its own.
struct LoadOptions {
  bool keep = false;
  bool failFrom = false;
  uint64_t from = 0;
  bool version = false;
  uint8_t cid = 0, pid = 0, txx = 0;
};

// "C.P.T", each part a decimal number no greater than 255.
bool ParseVersion(const char *text, uint8_t *cid, uint8_t *pid, uint8_t *txx) {
  uint8_t *parts[3] = {cid, pid, txx};
  for (uint8_t *part : parts) {
    char digits[4] = {};
    uint32_t n = 0;
    while (*text != '\0' && *text != '.') {
      if (n == 3)
        return false;
      digits[n++] = *text++;
    }
    uint64_t value = 0;
    if (!ParseDecimal(digits, 255, &value))
      return false;
    *part = static_cast<uint8_t>(value);
    if (part != txx && *text++ != '.')
      return false;
  }
  return *text == '\0';
}

LoadOptions ReadLoadOptions(EFI_HANDLE image) {
  LoadOptions options{};
  char **argv = nullptr;
  const int argc = GetShellArguments(image, u"SimChip.efi", &argv);
  if (ArgumentsWereCut())
    return options;
  for (int i = 1; i < argc; ++i) {
    if (Equal(argv[i], "keep")) {
      options.keep = true;
    } else if (i + 1 < argc && Equal(argv[i], "bus-fail-from") &&
               // The bound lies far beyond any run's transactions.
               ParseDecimal(argv[i + 1], 0xFFFFFFFF, &options.from)) {
      options.failFrom = true;
      ++i;
    } else if (i + 1 < argc && Equal(argv[i], "version") &&
               ParseVersion(argv[i + 1], &options.cid, &options.pid, &options.txx)) {
      options.version = true;
      ++i;
    }
  }
  return options;
}

// The driver marks a CMOS byte at every load. QEMU keeps CMOS across a reset and starts a new
// process with it cleared, so a byte without the mark means the machine was switched on, and the
// chip's power with it. The byte lies above the tool's mailbox and below nothing QEMU or OVMF use.
constexpr uint8_t kCmosChipPowered = 0x7E;
constexpr uint8_t kChipPoweredMark = 0xC5;
static_assert(kCmosChipPowered > kCmosUpdateStatus);

bool SwitchedOnSinceLastLoad() {
  const bool switchedOn = ReadCmos(kCmosChipPowered) != kChipPoweredMark;
  WriteCmos(kCmosChipPowered, kChipPoweredMark);
  return switchedOn;
}

// A chip that powers up runs the firmware its flash holds: its version registers become those of
// the catalogue image found at address 0. Across a reset it keeps running what it ran, as the
// real bridge does until its power goes; a flash holding no catalogue image (the factory
// firmware, a write cut short) leaves the registers as they were.
void RunFirmwareInFlash(sim::BridgeChip &chip) {
  static_assert(sizeof(CatalogueEntry::length) == 2 && sim::kFlashSize > 0xFFFF,
                "every image fits the flash");
  for (const CatalogueEntry &entry : FirmwareCatalogue) {
    if (Crc32(chip.flash, entry.length) == entry.crc) {
      chip.config.cid = entry.cid;
      chip.config.pid = entry.pid;
      chip.config.txx = entry.txx;
      return;
    }
  }
}

// The chip's identity and version registers for an operating system booted afterwards, whose
// own test double of the bridge is loaded from them: chip id high and low, CID, PID, Txx.
constexpr CHAR16 kRegistersName[] = u"SimChipRegisters";
constexpr uint32_t kRegistersAttributes =
    EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

void PublishRegisters() {
  uint8_t registers[5] = {gChip.config.idHigh, gChip.config.idLow, gChip.config.cid,
                          gChip.config.pid, gChip.config.txx};
  SetVariable(kRegistersName, kChipStoreGuid, kRegistersAttributes, sizeof(registers), registers);
}

bool gKeep = false;
uint32_t gStoredWrites = 0; // the chip's programs and erases when it was last stored

using ExecuteService = decltype(EFI_SMBUS_HC_PROTOCOL::Execute);
ExecuteService gModelExecute = nullptr;

// Each time the host gives access back the registers are published again and a kept chip whose
// flash changed is stored, so a reset or power-off the tool makes next finds it in the store. A
// failed transfer stores it too: a bus that fails for good never carries the release, and the
// chip must not come back from the store as it was before the erase.
EFI_STATUS EFIAPI ExecuteAndKeep(const EFI_SMBUS_HC_PROTOCOL *This,
                                 EFI_SMBUS_DEVICE_ADDRESS SlaveAddress, UINTN Command,
                                 EFI_SMBUS_OPERATION Operation, BOOLEAN PecCheck, UINTN *Length,
                                 void *Buffer) {
  const bool hadAccess = gChip.hostAccess;
  const EFI_STATUS status =
      gModelExecute(This, SlaveAddress, Command, Operation, PecCheck, Length, Buffer);
  const bool released = hadAccess && !gChip.hostAccess;
  if (released)
    PublishRegisters();
  const uint32_t writes = gChip.programs + gChip.erases;
  uint32_t bytes = 0;
  if (gKeep && (released || EfiIsError(status)) && writes != gStoredWrites &&
      !EfiIsError(StoreChip(gChip, &bytes)))
    gStoredWrites = writes;
  return status;
}

// The tool ends an update with a reset or a power-off while it still holds access to the chip
// (the flash sequences never give it back), so no release stores what it wrote: a kept chip
// whose flash changed is stored on the way out too. The tool reaches ResetSystem through the one
// runtime services table; the entry is taken over there (and the table's checksum fixed).
EFI_RUNTIME_SERVICES::ResetSystem_t gFirmwareReset = nullptr;

void EFIAPI ResetAndKeep(EFI_RESET_TYPE type, EFI_STATUS status, UINTN size, void *data) {
  const uint32_t writes = gChip.programs + gChip.erases;
  uint32_t bytes = 0;
  if (writes != gStoredWrites && !EfiIsError(StoreChip(gChip, &bytes)))
    gStoredWrites = writes;
  gFirmwareReset(type, status, size, data);
}

void HookReset() {
  gFirmwareReset = gRT->ResetSystem;
  gRT->ResetSystem = ResetAndKeep;
  gRT->Hdr.CRC32 = 0;
  gRT->Hdr.CRC32 = Crc32(reinterpret_cast<const uint8_t *>(gRT), gRT->Hdr.HeaderSize);
}

} // namespace

extern "C" EFI_STATUS EFIAPI SimChipEntry(EFI_HANDLE image, EFI_SYSTEM_TABLE *systemTable) {
  SetSystemTable(systemTable);
  sim::gSimNowMicros = 0;

  const LoadOptions options = ReadLoadOptions(image);
  sim::ChipConfig config{};
  if (options.version) {
    config.cid = options.cid;
    config.pid = options.pid;
    config.txx = options.txx;
  }
  sim::ChipPowerOn(gChip, config);
  // A store that does not read back fails the load: a chip that silently came back new would
  // pass for one that lost its flash. The store is gone afterwards either way (unless kept), so
  // the next load starts with a new chip.
  gKeep = options.keep;
  ChipStoreResult stored = RestoreChip(gChip, gKeep);
  if (EfiIsError(stored.status))
    return stored.status;
  if (SwitchedOnSinceLastLoad() && stored.restored)
    RunFirmwareInFlash(gChip);
  sim::BusInit(gBus, &gChip);
  if (options.failFrom)
    gBus.faults.failFrom = options.from;
  gModelExecute = gBus.protocol.Execute;
  gBus.protocol.Execute = ExecuteAndKeep;
  PublishRegisters();

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
  if (gKeep)
    HookReset();
  // Once the SMBus protocol is out the driver must stay resident, so a failure here only leaves
  // the tool refusing test images, or simctl without its protocol (it then reports SimChip as
  // not loaded).
  SetMark(&gControl, 1);
  gBS->InstallProtocolInterface(&gControllerHandle, &kSimControlProtocolGuid, kNativeInterface,
                                &gControl);
  return EFI_SUCCESS;
}

// simctl.efi: sets up and inspects the simulated chip of SimChip.efi from the UEFI Shell, and
// reads and writes CMOS bytes. One command per run, one result line per fact.
//
// Exit status: 0 done, 1 bad usage, 2 SimChip.efi not loaded (or from another build), 3 a
// variable service failed.
#include "console/console.h"
#include "sim/efi/chip_store.h"
#include "sim/efi/sim_control.h"
#include "uefi/arguments.h"
// clang-tidy 14 reports these two as duplicates once cmos.h is in (they are not).
#include "update/key_custody.h" // NOLINT(readability-duplicate-include)
#include "platform/cmos.h"
#include "uefi/firmware.h" // NOLINT(readability-duplicate-include)

namespace {

constexpr EFI_STATUS kExitDone = 0;
constexpr EFI_STATUS kExitUsage = 1;
constexpr EFI_STATUS kExitNoSimChip = 2;
constexpr EFI_STATUS kExitVariable = 3;

constexpr uint32_t kLastCmosIndex = 0x7F; // bit 7 of the index port masks NMIs: keep it clear

SIM_CONTROL_PROTOCOL *gControl = nullptr;

bool Equal(const char *a, const char *b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return 99;
}

// Whole-string number in `base` (hex may carry a 0x prefix) no greater than `max`.
bool ParseNumber(const char *s, unsigned base, uint64_t max, uint64_t *out) {
  if (base == 16 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
    s += 2;
  if (*s == 0)
    return false;
  uint64_t value = 0;
  for (; *s; ++s) {
    int d = DigitValue(*s);
    if (d >= static_cast<int>(base))
      return false;
    value = value * base + static_cast<unsigned>(d);
    if (value > max)
      return false;
  }
  *out = value;
  return true;
}

bool ParseHex(const char *s, uint64_t max, uint64_t *out) {
  return ParseNumber(s, 16, max, out);
}

bool ParseDecimal(const char *s, uint64_t max, uint64_t *out) {
  return ParseNumber(s, 10, max, out);
}

EFI_STATUS Usage() {
  Print(u"usage: simctl id HHLL              chip id, hex\n");
  Print(u"       simctl version C P T        firmware version in the chip, decimal\n");
  Print(u"       simctl reset                power the chip on again with its settings\n");
  Print(u"       simctl cycle                end a power cut: flash kept, bus faults gone\n");
  Print(u"       simctl persist              keep the chip for the next boot\n");
  Print(u"       simctl backup               the tool's key backup variable, against the chip\n");
  Print(u"       simctl backup plant SEED    key area of key seed SEED as backup (hex)\n");
  Print(u"       simctl cmos set IDX VAL     hex, IDX 00..7F\n");
  Print(u"       simctl cmos get IDX         hex\n");
  Print(u"       simctl fault stuck ADDR MASK   flash byte ADDR keeps MASK bits set (hex)\n");
  Print(u"       simctl fault key OFFSET        key-area byte OFFSET programs wrong (hex)\n");
  Print(u"       simctl fault ignore-writes     the chip ignores every register write\n");
  Print(u"       simctl fault bus-fail-from N   transactions fail from N on (decimal)\n");
  Print(u"       simctl fault flip-read N MASK  read N (decimal) gets MASK flipped (hex)\n");
  Print(u"       simctl fault clear             no faults\n");
  Print(u"       simctl report\n");
  return kExitUsage;
}

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

void PrintChipId(const sim::ChipConfig &config) {
  Print(u"chipid=%02X%02X version=%u.%u.%u\n", config.idHigh, config.idLow, config.cid, config.pid,
        config.txx);
}

EFI_STATUS SetChipId(const char *text) {
  uint64_t id = 0;
  if (!ParseHex(text, 0xFFFF, &id))
    return Usage();
  sim::ChipConfig &config = gControl->Chip->config;
  config.idHigh = static_cast<uint8_t>(id >> 8);
  config.idLow = static_cast<uint8_t>(id);
  PrintChipId(config);
  return kExitDone;
}

EFI_STATUS SetVersion(const char *cid, const char *pid, const char *txx) {
  uint64_t c = 0;
  uint64_t p = 0;
  uint64_t t = 0;
  if (!ParseDecimal(cid, 0xFF, &c) || !ParseDecimal(pid, 0xFF, &p) || !ParseDecimal(txx, 0xFF, &t))
    return Usage();
  sim::ChipConfig &config = gControl->Chip->config;
  config.cid = static_cast<uint8_t>(c);
  config.pid = static_cast<uint8_t>(p);
  config.txx = static_cast<uint8_t>(t);
  PrintChipId(config);
  return kExitDone;
}

EFI_STATUS Reset() {
  gControl->PowerOn(gControl);
  Print(u"reset: chip powered on, bus counters cleared\n");
  return kExitDone;
}

EFI_STATUS Cycle() {
  gControl->PowerCycle(gControl);
  Print(u"cycle: chip powered on with its flash, bus faults and counters cleared\n");
  return kExitDone;
}

EFI_STATUS Persist() {
  uint32_t bytes = 0;
  EFI_STATUS status = StoreChip(*gControl->Chip, &bytes);
  if (EfiIsError(status)) {
    Print(u"persist: not stored (%r)\n", status);
    return kExitVariable;
  }
  Print(u"persist: settings and %u flash bytes stored for the next load of SimChip.efi\n", bytes);
  return kExitDone;
}

// The tool's key backup as read here; room for more than the key area, so a variable of another
// size reads whole too. Cleared after use: it is key material.
uint8_t gBackup[1024];
static_assert(sizeof(gBackup) > kHdcpKeySize);
static_assert(kHdcpKeySize == sim::kKeyAreaSize);

// Names the backup against the chip's own key area without showing a byte of either.
EFI_STATUS ShowBackup() {
  uint32_t attributes = 0;
  UINTN size = sizeof(gBackup);
  EFI_STATUS status = GetVariable(kKeyBackupName, kKeyBackupGuid, &attributes, &size, gBackup);
  if (status == EFI_NOT_FOUND) {
    Print(u"backup=none\n");
    return kExitDone;
  }
  if (EfiIsError(status)) {
    Print(u"backup: not readable (%r)\n", status);
    return kExitVariable;
  }
  bool original = size == sim::kKeyAreaSize;
  for (uint32_t i = 0; original && i < sim::kKeyAreaSize; ++i)
    original = gBackup[i] == gControl->Chip->originalKeyArea[i];
  for (uint8_t &b : gBackup)
    b = 0;
  Print(u"backup=%s attributes=0x%X size=%u\n", original ? u"original" : u"other", attributes,
        static_cast<uint32_t>(size));
  return kExitDone;
}

// Another chip's backup, left behind as if that chip had been on this board.
EFI_STATUS PlantBackup(const char *seedText) {
  uint64_t seed = 0;
  if (!ParseHex(seedText, 0xFFFFFFFF, &seed))
    return Usage();
  for (uint32_t i = 0; i < sim::kKeyAreaSize; ++i)
    gBackup[i] = sim::FactoryKeyByte(static_cast<uint32_t>(seed), i);
  EFI_STATUS status =
      SetVariable(kKeyBackupName, kKeyBackupGuid, kKeyBackupAttributes, sim::kKeyAreaSize, gBackup);
  for (uint8_t &b : gBackup)
    b = 0;
  if (EfiIsError(status)) {
    Print(u"backup: not stored (%r)\n", status);
    return kExitVariable;
  }
  Print(u"backup: key area of key seed %X stored\n", static_cast<uint32_t>(seed));
  return kExitDone;
}

EFI_STATUS Cmos(int argc, char **argv) {
  uint64_t index = 0;
  uint64_t value = 0;
  if (argc == 4 && Equal(argv[2], "get") && ParseHex(argv[3], kLastCmosIndex, &index)) {
    value = ReadCmos(static_cast<uint8_t>(index));
  } else if (argc == 5 && Equal(argv[2], "set") && ParseHex(argv[3], kLastCmosIndex, &index) &&
             ParseHex(argv[4], 0xFF, &value)) {
    WriteCmos(static_cast<uint8_t>(index), static_cast<uint8_t>(value));
  } else {
    return Usage();
  }
  Print(u"cmos[%02X]=%02X\n", static_cast<uint32_t>(index), static_cast<uint32_t>(value));
  return kExitDone;
}

EFI_STATUS Fault(int argc, char **argv) {
  if (argc < 3)
    return Usage();
  sim::ChipConfig &config = gControl->Chip->config;
  sim::BusFaults &bus = gControl->Bus->faults;
  const char *kind = argv[2];
  uint64_t a = 0;
  uint64_t b = 0;
  if (argc == 5 && Equal(kind, "stuck") && ParseHex(argv[3], sim::kFlashSize - 1, &a) &&
      ParseHex(argv[4], 0xFF, &b)) {
    config.stuckAddress = static_cast<int32_t>(a);
    config.stuckMask = static_cast<uint8_t>(b);
    Print(u"fault: flash byte %04X keeps bits %02X set\n", static_cast<uint32_t>(a),
          static_cast<uint32_t>(b));
  } else if (argc == 4 && Equal(kind, "key") && ParseHex(argv[3], sim::kKeyAreaSize - 1, &a)) {
    config.corruptKeyOffset = static_cast<int32_t>(a);
    Print(u"fault: key-area byte %X programs wrong\n", static_cast<uint32_t>(a));
  } else if (argc == 3 && Equal(kind, "ignore-writes")) {
    config.ignoreWrites = true;
    Print(u"fault: the chip ignores register writes\n");
  } else if (argc == 4 && Equal(kind, "bus-fail-from") && ParseDecimal(argv[3], ~0ull - 1, &a)) {
    bus.failFrom = a;
    Print(u"fault: transactions fail from %u on\n", static_cast<uint32_t>(a));
  } else if (argc == 5 && Equal(kind, "flip-read") && ParseDecimal(argv[3], ~0ull - 1, &a) &&
             ParseHex(argv[4], 0xFF, &b) && b != 0) {
    bus.flipReadAt = a;
    bus.flipMask = static_cast<uint8_t>(b);
    Print(u"fault: read %u returns bits %02X flipped\n", static_cast<uint32_t>(a),
          static_cast<uint32_t>(b));
  } else if (argc == 3 && Equal(kind, "clear")) {
    const sim::ChipConfig clean{};
    config.ignoreWrites = clean.ignoreWrites;
    config.stuckAddress = clean.stuckAddress;
    config.stuckMask = clean.stuckMask;
    config.corruptKeyOffset = clean.corruptKeyOffset;
    bus = sim::BusFaults{};
    Print(u"fault: none\n");
  } else {
    return Usage();
  }
  return kExitDone;
}

// The flash as the chip came from the factory: the old image, the chip's own key area, the rest
// erased.
bool AsMade(const sim::BridgeChip &chip) {
  for (uint32_t a = 0; a < sim::kFlashSize; ++a) {
    uint8_t made = a < sim::kOldImageLength ? sim::OldImageByte(a) : 0xFF;
    if (a >= sim::kKeyAreaAddress && a < sim::kKeyAreaAddress + sim::kKeyAreaSize)
      made = chip.originalKeyArea[a - sim::kKeyAreaAddress];
    if (chip.flash[a] != made)
      return false;
  }
  return true;
}

EFI_STATUS Report() {
  const sim::BridgeChip &chip = *gControl->Chip;
  const sim::SimBus &bus = *gControl->Bus;
  // Counts stay far below 2^32 in one boot; the console prints 32-bit numbers.
  Print(u"transactions=%u reads=%u writes=%u\n", static_cast<uint32_t>(bus.transactions),
        static_cast<uint32_t>(bus.reads), static_cast<uint32_t>(bus.writes));
  uint32_t programmed = chip.highestProgrammed;
  Print(u"programmed=%u crc=%08X\n", programmed, sim::Crc32(chip.flash, programmed));
  Print(u"keyarea=%s\n", sim::KeyAreaIntact(chip) ? u"intact" : u"changed");
  Print(u"flash=%s flash_crc=%08X\n", AsMade(chip) ? u"original" : u"changed",
        sim::Crc32(chip.flash, sim::kFlashSize));
  if (gControl->Restored)
    Print(u"origin=store stored_bytes=%u\n", gControl->RestoredBytes);
  else
    Print(u"origin=new\n");
  PrintChipId(chip.config);
  // The model's clock (modelled bus time plus the real time between transactions) and the
  // modelled bus time alone.
  Print(u"clock_ms=%u bus_ms=%u\n", static_cast<uint32_t>(*gControl->NowMicros / 1000),
        static_cast<uint32_t>(bus.busMicros / 1000));
  return kExitDone;
}

EFI_STATUS Run(int argc, char **argv) {
  if (argc < 2)
    return Usage();
  const char *command = argv[1];
  // CMOS is the platform's own, so it needs no simulated chip.
  if (Equal(command, "cmos"))
    return Cmos(argc, argv);
  bool known = Equal(command, "id") || Equal(command, "version") || Equal(command, "reset") ||
               Equal(command, "cycle") || Equal(command, "persist") || Equal(command, "backup") ||
               Equal(command, "fault") || Equal(command, "report");
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
  SetFirmware(systemTable);
  gControl = nullptr;
  char **argv = nullptr;
  int argc = GetShellArguments(image, u"simctl.efi", &argv);
  return Run(argc, argv);
}

// simctl's commands: the chip's identity and power, the key backup, CMOS, faults and the report.
#include "console/console.h"
#include "catalogue/crc32.h"
#include "sim/efi/chip_store.h"
#include "sim/efi/simctl.h"
// clang-tidy 14 reports these two as duplicates once cmos.h is in (they are not).
#include "update/key_custody.h" // NOLINT(readability-duplicate-include)
#include "platform/cmos.h"
#include "uefi/services.h" // NOLINT(readability-duplicate-include)

namespace {

void PrintChipId(const sim::ChipConfig &config) {
  Print(u"chipid=%02X%02X version=%u.%u.%u\n", config.idHigh, config.idLow, config.cid, config.pid,
        config.txx);
}

// The tool's key backup as read here; room for more than the key area, so a variable of another
// size reads whole too. Cleared after use: it is key material.
uint8_t gBackup[1024];
static_assert(sizeof(gBackup) > kHdcpKeySize);
static_assert(kHdcpKeySize == sim::kKeyAreaSize);

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

} // namespace

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

// A chip that never had a key area, one whose area was wiped to zeros, or one with its own; the
// chip is powered on with it.
EFI_STATUS SetKeyArea(const char *kind) {
  const bool blank = Equal(kind, "blank");
  const bool zero = Equal(kind, "zero");
  if (!blank && !zero && !Equal(kind, "factory"))
    return Usage();
  gControl->Chip->config.blankKeyArea = blank;
  gControl->Chip->config.zeroedKeyArea = zero;
  gControl->PowerOn(gControl);
  Print(u"keyarea: %s; chip powered on\n",
        blank ? u"blank from the factory" : (zero ? u"zeroed" : u"its own"));
  return kExitDone;
}

// The simulator's mark on the controller: off, the controller passes for a real machine's.
EFI_STATUS SetMark(const char *state) {
  const bool on = Equal(state, "on");
  if (!on && !Equal(state, "off"))
    return Usage();
  EFI_STATUS status = gControl->SetMark(gControl, on ? 1 : 0);
  Print(u"mark: %s (%r)\n", on ? u"on" : u"off", status);
  return EfiIsError(status) ? kExitUsage : kExitDone;
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
  uint64_t c = 0;
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
  } else if (argc == 6 && Equal(kind, "bus-fail-at") && ParseDecimal(argv[3], ~0ull - 1, &a) &&
             ParseDecimal(argv[4], 0xFFFF, &b) && b != 0 && ParseDecimal(argv[5], 0xFFFF, &c) &&
             c != 0) {
    bus.failOnce = a;
    bus.failAgain = static_cast<uint32_t>(b - 1);
    bus.failStride = static_cast<uint32_t>(c);
    Print(u"fault: %u transactions fail, from %u, %u apart\n", static_cast<uint32_t>(b),
          static_cast<uint32_t>(a), static_cast<uint32_t>(c));
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

EFI_STATUS Report() {
  const sim::BridgeChip &chip = *gControl->Chip;
  const sim::SimBus &bus = *gControl->Bus;
  // Counts stay far below 2^32 in one boot; the console prints 32-bit numbers.
  Print(u"transactions=%u reads=%u writes=%u\n", static_cast<uint32_t>(bus.transactions),
        static_cast<uint32_t>(bus.reads), static_cast<uint32_t>(bus.writes));
  uint32_t programmed = chip.highestProgrammed;
  Print(u"programmed=%u crc=%08X\n", programmed, Crc32(chip.flash, programmed));
  Print(u"keyarea=%s\n", sim::KeyAreaIntact(chip) ? u"intact" : u"changed");
  Print(u"flash=%s flash_crc=%08X\n", AsMade(chip) ? u"original" : u"changed",
        Crc32(chip.flash, sim::kFlashSize));
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

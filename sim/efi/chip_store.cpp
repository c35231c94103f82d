#include "sim/efi/chip_store.h"

#include "catalogue/crc32.h"
#include "uefi/services.h"

namespace {

// Raise whenever the header's layout or meaning changes.
constexpr uint32_t kChipStoreFormat = 2;
constexpr uint32_t kStoreAttributes = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;
// Why a store is refused, in UEFI's codes: another build's header, a chunk missing or short, a
// CRC that does not match.
constexpr EFI_STATUS kIncompatibleVersion = EfiError(25);
constexpr EFI_STATUS kVolumeCorrupted = EfiError(10);
constexpr EFI_STATUS kCrcError = EfiError(27);

struct ChipStoreHeader {
  uint32_t format{};
  uint32_t configSize{};  // sizeof(sim::ChipConfig) in the build that stored it
  uint32_t flashLength{}; // bytes stored from address 0; every byte above was 0xFF
  uint32_t flashCrc{};    // CRC-32 of those bytes
  sim::ChipConfig config;
};

constexpr CHAR16 kHeaderName[] = u"SimChipState";

// u"SimChipFlashN" with N the chunk's hex digit.
struct ChunkName {
  CHAR16 text[14];
};
static_assert(sizeof(u"SimChipFlash0") == sizeof(ChunkName::text));

ChunkName NameOfChunk(uint32_t chunk) {
  ChunkName name{u"SimChipFlash0"};
  name.text[12] = static_cast<CHAR16>(chunk < 10 ? u'0' + chunk : u'A' + chunk - 10);
  return name;
}

uint32_t ChunksFor(uint32_t length) {
  return (length + kChipStoreChunk - 1) / kChipStoreChunk;
}

// Deletes the header and every chunk; absent ones are fine.
void ClearStore() {
  SetVariable(kHeaderName, kChipStoreGuid, kStoreAttributes, 0, nullptr);
  for (uint32_t c = 0; c < kChipStoreChunks; ++c)
    SetVariable(NameOfChunk(c).text, kChipStoreGuid, kStoreAttributes, 0, nullptr);
}

// Reads the header and chunks into `flash`; fills the bytes above with 0xFF.
EFI_STATUS ReadStore(ChipStoreHeader *header, uint8_t (&flash)[sim::kFlashSize]) {
  UINTN size = sizeof(*header);
  EFI_STATUS status = GetVariable(kHeaderName, kChipStoreGuid, nullptr, &size, header);
  if (EfiIsError(status))
    return status;
  if (size != sizeof(*header) || header->format != kChipStoreFormat ||
      header->configSize != sizeof(sim::ChipConfig) || header->flashLength > sim::kFlashSize)
    return kIncompatibleVersion;
  uint32_t length = header->flashLength;
  for (uint32_t c = 0; c < ChunksFor(length); ++c) {
    uint32_t offset = c * kChipStoreChunk;
    uint32_t want = length - offset < kChipStoreChunk ? length - offset : kChipStoreChunk;
    size = want;
    status = GetVariable(NameOfChunk(c).text, kChipStoreGuid, nullptr, &size, flash + offset);
    // A missing chunk is a broken store, not an empty one.
    if (status == EFI_NOT_FOUND)
      return kVolumeCorrupted;
    if (EfiIsError(status))
      return status;
    if (size != want)
      return kVolumeCorrupted;
  }
  for (uint32_t a = length; a < sim::kFlashSize; ++a)
    flash[a] = 0xFF;
  return Crc32(flash, length) == header->flashCrc ? EFI_SUCCESS : kCrcError;
}

// Staging for a restore, so a store that fails half-way leaves the chip as it was.
uint8_t gFlash[sim::kFlashSize];

} // namespace

EFI_STATUS StoreChip(const sim::BridgeChip &chip, uint32_t *flashBytes) {
  uint32_t length = sim::kFlashSize;
  while (length > 0 && chip.flash[length - 1] == 0xFF)
    --length;
  ChipStoreHeader header{kChipStoreFormat, sizeof(sim::ChipConfig), length,
                         Crc32(chip.flash, length), chip.config};
  // The header goes last: until it is written, a power-off leaves no store rather than a mix.
  ClearStore();
  for (uint32_t c = 0; c < ChunksFor(length); ++c) {
    uint32_t offset = c * kChipStoreChunk;
    uint32_t size = length - offset < kChipStoreChunk ? length - offset : kChipStoreChunk;
    EFI_STATUS status = SetVariable(NameOfChunk(c).text, kChipStoreGuid, kStoreAttributes, size,
                                    chip.flash + offset);
    if (EfiIsError(status)) {
      ClearStore();
      return status;
    }
  }
  EFI_STATUS status =
      SetVariable(kHeaderName, kChipStoreGuid, kStoreAttributes, sizeof(header), &header);
  if (EfiIsError(status)) {
    ClearStore();
    return status;
  }
  *flashBytes = length;
  return EFI_SUCCESS;
}

ChipStoreResult RestoreChip(sim::BridgeChip &chip, bool keepStore) {
  ChipStoreHeader header{};
  EFI_STATUS status = ReadStore(&header, gFlash);
  if (status == EFI_NOT_FOUND)
    return ChipStoreResult{EFI_SUCCESS, false, 0};
  if (EfiIsError(status) || !keepStore)
    ClearStore();
  if (EfiIsError(status))
    return ChipStoreResult{status, false, 0};
  // Power-on with the stored settings records the factory key area of its key seed (the one
  // the simulated chip was made with); the flash is then the stored one.
  sim::ChipPowerOn(chip, header.config);
  for (uint32_t a = 0; a < sim::kFlashSize; ++a)
    chip.flash[a] = gFlash[a];
  return ChipStoreResult{EFI_SUCCESS, true, header.flashLength};
}

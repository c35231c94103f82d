// The simulated chip's flash across a power cycle of the emulated machine. A real chip keeps its
// flash when the machine is switched off; SimChip.efi lives in RAM, so before the power-off
// `simctl persist` hands the chip over to non-volatile variables of our own GUID, and the next
// load of SimChip.efi (in a new QEMU process on the same variable store) powers the chip on with
// that flash and deletes the variables. The chip is thus in one place at a time: in the driver
// while it is loaded, in the store between boots; a stale copy never outlives its boot.
//
// A driver loaded with `keep` instead keeps the store across every boot: the emulated fleet's
// machines reset and power off by themselves, with no shell to run simctl.
//
// Variables (NV+BS): SimChipState holds the chip's settings and how many flash bytes from
// address 0 were stored (the rest was erased, 0xFF); SimChipFlash0, 1, ... hold those bytes in
// chunks well below OVMF's largest variable.
#pragma once

#include "sim/bridge_chip.h"
#include "uefi/efi_types.h"

// Our own GUID (620D4C8F-8ABB-497B-B229-31B6DE21B68C), generated for these variables.
inline constexpr EFI_GUID kChipStoreGuid = {
    0x620D4C8F, 0x8ABB, 0x497B, {0xB2, 0x29, 0x31, 0xB6, 0xDE, 0x21, 0xB6, 0x8C}};

constexpr uint32_t kChipStoreChunk = 4096;
constexpr uint32_t kChipStoreChunks = sim::kFlashSize / kChipStoreChunk;
static_assert(sim::kFlashSize % kChipStoreChunk == 0);
static_assert(kChipStoreChunks <= 16, "one hex digit names a chunk");

// What a load of SimChip.efi found in the store.
struct ChipStoreResult {
  EFI_STATUS status; // success also when nothing was stored
  bool restored;     // the chip now holds the stored flash and settings
  uint32_t flashBytes;
};

// Stores the chip's settings and flash; *flashBytes gets the bytes stored.
EFI_STATUS StoreChip(const sim::BridgeChip &chip, uint32_t *flashBytes);
// Powers `chip` on from the store when there is one, and empties the store unless `keepStore`
// (a chip kept across every boot, which is stored again whenever its flash changes). A store
// that does not read back whole (or comes from another build) is deleted either way, and the
// chip is left untouched; the status says why.
ChipStoreResult RestoreChip(sim::BridgeChip &chip, bool keepStore);

// The built-in firmware catalogue and the rule that picks one entry.
#pragma once

#include <stdint.h>

#include "chip/firmware_version.h"

constexpr uint32_t kModelChars = 25;

struct CatalogueEntry {
  uint8_t size; // panel diagonal, whole inches
  char16_t model[kModelChars];
  uint8_t cid;
  uint8_t pid;
  uint8_t txx;
  const uint8_t *image;
  uint16_t length;
  uint32_t crc; // CRC-32 of the image's bytes, as the build embedded them
  // False for a deterministic test pattern the build put in place of a missing image: it may
  // only ever reach the simulated chip.
  bool genuine;
};

constexpr uint8_t kCatalogueEntryCount = 9;
// The entry flashed when no entry matches the request.
constexpr uint8_t kDefaultEntryIndex = 4;

extern const CatalogueEntry FirmwareCatalogue[kCatalogueEntryCount];
extern uint8_t SelectedEntryIndex;

// Picks the first entry whose CID and PID both match; keeps the current selection when none does.
uint8_t SelectEntry(uint8_t requestedCid, uint8_t requestedPid);
const CatalogueEntry &SelectedEntry();
// Whether the entry's image still has the CRC-32 the build gave it: a bad copy of the tool (a
// flipped bit on a USB stick) must never reach the chip.
bool ImageIntact(const CatalogueEntry &entry);
FirmwareVersion EntryVersion(const CatalogueEntry &entry);

// Puts the selection back to its start value.
void ResetCatalogueSelection();

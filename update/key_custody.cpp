// Key-area custody. Its messages are exact to the byte on purpose (see console/console.h).
#include "update/key_custody.h"

#include "catalogue/crc32.h"
#include "chip/flash.h"
#include "chip/registers.h"
#include "console/console.h"
#include "uefi/services.h"

uint8_t HdcpKeyBuffer[kHdcpKeySize];

namespace {

// The second save, to check the first against, and the backup as read from the variable.
uint8_t gKeyCheckBuffer[kHdcpKeySize];
uint8_t gKeyBackupBuffer[kHdcpKeySize];

bool Same(const uint8_t (&a)[kHdcpKeySize], const uint8_t (&b)[kHdcpKeySize]) {
  for (uint32_t i = 0; i < kHdcpKeySize; ++i)
    if (a[i] != b[i])
      return false;
  return true;
}

// One pass over the key area; true when the bus delivered every transfer of it. A pass with a
// failed transfer is no reading: a failed read leaves 0xFF, which would count as blank and fit
// any backup, and a failed write reads the wrong place.
bool ReadPass(uint8_t (&destination)[kHdcpKeySize]) {
  ClearBusFault();
  SaveHdcpKeyFromFlash(destination);
  return !BusFaultSeen();
}

enum class Reading : uint8_t {
  Delivered,  // both passes read whole: only their bytes are ever judged
  Faulty,     // a transfer failed in every try
  BusGivenUp, // the bus is given up: nothing more can be read or written this run
};

// Two whole passes, into HdcpKeyBuffer and gKeyCheckBuffer, read again while a transfer fails in
// either, up to `tries` times in all: nothing has been erased yet, so reading again costs only
// time.
Reading ReadTwice(uint8_t tries) {
  for (uint8_t t = 1;; ++t) {
    const bool first = ReadPass(HdcpKeyBuffer);
    const bool second = ReadPass(gKeyCheckBuffer);
    if (ChipBusAbandoned())
      return Reading::BusGivenUp;
    if (first && second)
      return Reading::Delivered;
    if (t >= tries)
      return Reading::Faulty;
    Print(u"\n VTQ_002B  SaveHdcpKeyFromFlash read %d of %d failed, reading again", t, tries);
  }
}

enum class Stored : uint8_t {
  None,    // no such variable
  Ours,    // exactly the expected size and the tool's attributes: in the buffer
  NotOurs, // anything else (other attributes or size, too large to read): never used or touched
};

// Reads one of the tool's variables into `buffer`, judging it by its size and attributes.
EFI_STATUS LoadOurs(const CHAR16 *name, uint8_t *buffer, uint32_t expectedSize, Stored *stored) {
  *stored = Stored::None;
  uint32_t attributes = 0;
  UINTN size = expectedSize;
  EFI_STATUS status = GetVariable(name, kKeyBackupGuid, &attributes, &size, buffer);
  if (status == EFI_NOT_FOUND)
    return EFI_SUCCESS;
  if (status == EFI_BUFFER_TOO_SMALL) {
    *stored = Stored::NotOurs;
    return EFI_SUCCESS;
  }
  if (EfiIsError(status))
    return status;
  *stored =
      attributes == kKeyBackupAttributes && size == expectedSize ? Stored::Ours : Stored::NotOurs;
  return EFI_SUCCESS;
}

EFI_STATUS StoreOurs(const CHAR16 *name, const uint8_t *data, uint32_t size) {
  return SetVariable(name, kKeyBackupGuid, kKeyBackupAttributes, size, data);
}

EFI_STATUS DeleteOurs(const CHAR16 *name) {
  EFI_STATUS status = SetVariable(name, kKeyBackupGuid, kKeyBackupAttributes, 0, nullptr);
  return status == EFI_NOT_FOUND ? EFI_SUCCESS : status;
}

// The marker of a key area: its CRC-32, least significant byte first.
void MarkerOf(const uint8_t (&area)[kHdcpKeySize], uint8_t (&marker)[kKeyMarkerSize]) {
  const uint32_t crc = Crc32(area, kHdcpKeySize);
  for (uint32_t i = 0; i < kKeyMarkerSize; ++i)
    marker[i] = static_cast<uint8_t>(crc >> (8 * i));
}

bool MatchesMarker(const uint8_t (&area)[kHdcpKeySize], const uint8_t (&marker)[kKeyMarkerSize]) {
  uint8_t found[kKeyMarkerSize];
  MarkerOf(area, found);
  for (uint32_t i = 0; i < kKeyMarkerSize; ++i)
    if (marker[i] != found[i])
      return false;
  return true;
}

bool Refuse(const CHAR16 *message, EFI_STATUS status = EFI_SUCCESS) {
  Print(message, status);
  return false;
}

bool RefuseBackupNg(EFI_STATUS status) {
  return Refuse(u"\n VTQ_002K  HdcpKey backup NG = %r, flash not erased", status);
}

bool RefuseUnstable() {
  return Refuse(u"\n VTQ_002K  SaveHdcpKeyFromFlash unstable, flash not erased");
}

// The tool stores only areas with no blank and no zeroed page; the one deliberate exception is
// the all-blank backup an operator loads for a chip that never had a key area.
bool BackupIsKeyArea() {
  const uint32_t blank = KeyPagesFilledWith(gKeyBackupBuffer, 0xFF);
  return KeyPagesFilledWith(gKeyBackupBuffer, 0x00) == 0 && (blank == 0 || blank == kHdcpKeyPages);
}

bool WithinRestoreRule(const uint8_t (&found)[kHdcpKeySize]) {
  return ForeignBytes(found, gKeyBackupBuffer) <= kMaxForeignBytes;
}

// With this chip's backup: what the chip holds goes on as it is, or the backup replaces it.
bool SettleWithBackup(bool stable) {
  if (!BackupIsKeyArea())
    return Refuse(u"\n VTQ_002K  HdcpKey backup is no key area, flash not erased");
  if (stable && Same(HdcpKeyBuffer, gKeyBackupBuffer))
    return true;
  // Each pass is judged on its own: cells left half-erased may read differently each time, which
  // must not stop a recovery the backup allows.
  if (!WithinRestoreRule(HdcpKeyBuffer) || !WithinRestoreRule(gKeyCheckBuffer)) {
    if (!stable)
      return RefuseUnstable();
    return Refuse(u"\n VTQ_002K  HdcpKey backup belongs to another chip, flash not erased");
  }
  for (uint32_t i = 0; i < kHdcpKeySize; ++i)
    HdcpKeyBuffer[i] = gKeyBackupBuffer[i];
  Print(u"\n VTQ_002B  HdcpKey restored from backup");
  return true;
}

// No backup but the marker: an update wrote this chip's key area back and its backup was lost
// since. Only the area that update saved may be taken as the key.
bool CheckAgainstMarker(bool stable, const uint8_t (&marker)[kKeyMarkerSize]) {
  if (!stable)
    return RefuseUnstable();
  if (!MatchesMarker(HdcpKeyBuffer, marker))
    return Refuse(
        u"\n VTQ_002K  last update did not finish and HdcpKey backup is gone, flash not erased");
  return true;
}

// Without a backup: only a key area read the same twice, with no blank and no zeroed page, is
// the key. The stored copy is read back, since some firmware reports success for a write to its
// variable store that never lands.
bool StoreNewBackup(bool stable) {
  if (!stable)
    return RefuseUnstable();
  const uint32_t blank = KeyPagesFilledWith(HdcpKeyBuffer, 0xFF);
  if (blank != 0) {
    Print(u"\n VTQ_002K  HdcpKey blank (%d of %d pages) and no backup, flash not erased", blank,
          kHdcpKeyPages);
    return false;
  }
  const uint32_t zeroed = KeyPagesFilledWith(HdcpKeyBuffer, 0x00);
  if (zeroed != 0) {
    Print(u"\n VTQ_002K  HdcpKey zeroed (%d of %d pages) and no backup, flash not erased", zeroed,
          kHdcpKeyPages);
    return false;
  }
  EFI_STATUS status = StoreOurs(kKeyBackupName, HdcpKeyBuffer, kHdcpKeySize);
  if (EfiIsError(status))
    return RefuseBackupNg(status);
  Stored stored = Stored::None;
  status = LoadOurs(kKeyBackupName, gKeyBackupBuffer, kHdcpKeySize, &stored);
  if (EfiIsError(status))
    return RefuseBackupNg(status);
  if (stored != Stored::Ours || !Same(HdcpKeyBuffer, gKeyBackupBuffer)) {
    // A wrong copy must not be restored over this chip's key by a later run; the chip still
    // holds the key, so nothing is lost with it.
    if (stored == Stored::Ours)
      DeleteOurs(kKeyBackupName);
    return RefuseBackupNg(EFI_VOLUME_CORRUPTED);
  }
  return true;
}

bool StoreMarker() {
  uint8_t marker[kKeyMarkerSize];
  MarkerOf(HdcpKeyBuffer, marker);
  EFI_STATUS status = StoreOurs(kKeyMarkerName, marker, kKeyMarkerSize);
  if (EfiIsError(status))
    return RefuseBackupNg(status);
  return true;
}

// Settles the key area to write back: from the backup, or the chip's own (checked against the
// marker when one is left), storing the backup where there was none.
bool SettleKeyArea(bool stable) {
  Stored backup = Stored::None;
  EFI_STATUS status = LoadOurs(kKeyBackupName, gKeyBackupBuffer, kHdcpKeySize, &backup);
  if (EfiIsError(status))
    return RefuseBackupNg(status);
  if (backup == Stored::NotOurs)
    return Refuse(u"\n VTQ_002K  HdcpKey backup not stored by this tool, flash not erased");

  uint8_t marker[kKeyMarkerSize];
  Stored left = Stored::None;
  status = LoadOurs(kKeyMarkerName, marker, kKeyMarkerSize, &left);
  if (EfiIsError(status))
    return RefuseBackupNg(status);
  if (left == Stored::NotOurs)
    return Refuse(u"\n VTQ_002K  HdcpKey marker not stored by this tool, flash not erased");

  if (backup == Stored::Ours) {
    // The tool stores the two together, the marker from the backup's bytes: a backup that does
    // not match is not the one the unfinished update saved (a file loaded for another panel, or
    // a marker left by another chip's update), and neither can say which key this chip needs.
    if (left == Stored::Ours && !MatchesMarker(gKeyBackupBuffer, marker))
      return Refuse(u"\n VTQ_002K  HdcpKey backup does not match its marker, flash not erased");
    return SettleWithBackup(stable);
  }
  if (left == Stored::Ours && !CheckAgainstMarker(stable, marker))
    return false;
  return StoreNewBackup(stable);
}

} // namespace

uint32_t ForeignBytes(const uint8_t (&found)[kHdcpKeySize], const uint8_t (&backup)[kHdcpKeySize]) {
  uint32_t foreign = 0;
  for (uint32_t i = 0; i < kHdcpKeySize; ++i)
    if (found[i] != 0xFF && found[i] != backup[i])
      ++foreign;
  return foreign;
}

uint32_t KeyPagesFilledWith(const uint8_t (&area)[kHdcpKeySize], uint8_t value) {
  uint32_t pages = 0;
  for (uint32_t start = 0; start < kHdcpKeySize; start += kFlashPageSize) {
    bool filled = true;
    for (uint32_t i = start; i < kHdcpKeySize && i < start + kFlashPageSize; ++i)
      filled = filled && area[i] == value;
    if (filled)
      ++pages;
  }
  return pages;
}

bool TakeKeyAreaIntoCustody(uint8_t tries) {
  const Reading reading = ReadTwice(tries);
  if (reading == Reading::BusGivenUp)
    return Refuse(u"\n VTQ_002K  SMBus given up, flash not erased");
  if (reading == Reading::Faulty)
    return RefuseUnstable();
  return SettleKeyArea(Same(HdcpKeyBuffer, gKeyCheckBuffer)) && StoreMarker();
}

EFI_STATUS ReleaseKeyBackup() {
  const EFI_STATUS backup = DeleteOurs(kKeyBackupName);
  const EFI_STATUS marker = DeleteOurs(kKeyMarkerName);
  return EfiIsError(backup) ? backup : marker;
}

void ForgetKeyArea() {
  ClearKeyMaterial(HdcpKeyBuffer, kHdcpKeySize);
  ClearKeyMaterial(gKeyCheckBuffer, kHdcpKeySize);
  ClearKeyMaterial(gKeyBackupBuffer, kHdcpKeySize);
}

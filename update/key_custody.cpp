// Key-area custody. Its messages are exact to the byte on purpose (see console/console.h).
#include "update/key_custody.h"

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

// Two whole passes, into HdcpKeyBuffer and gKeyCheckBuffer. Stable when they agree and the bus
// accepted every transfer of both: a read that went wrong once cannot then reach the flash.
bool SaveTwice() {
  ClearBusFault();
  SaveHdcpKeyFromFlash(HdcpKeyBuffer);
  SaveHdcpKeyFromFlash(gKeyCheckBuffer);
  return !BusFaultSeen() && Same(HdcpKeyBuffer, gKeyCheckBuffer);
}

enum class Backup : uint8_t {
  None,    // nothing stored, or a variable of another size, which is replaced
  Ours,    // the key area's size and the tool's attributes: in gKeyBackupBuffer
  NotOurs, // another writer's (other attributes): never used, never touched
};

EFI_STATUS LoadBackup(Backup *backup) {
  *backup = Backup::None;
  uint32_t attributes = 0;
  UINTN size = kHdcpKeySize;
  EFI_STATUS status =
      GetVariable(kKeyBackupName, kKeyBackupGuid, &attributes, &size, gKeyBackupBuffer);
  if (status == EFI_NOT_FOUND || status == EFI_BUFFER_TOO_SMALL)
    return EFI_SUCCESS;
  if (EfiIsError(status))
    return status;
  if (attributes != kKeyBackupAttributes)
    *backup = Backup::NotOurs;
  else if (size == kHdcpKeySize)
    *backup = Backup::Ours;
  return EFI_SUCCESS;
}

bool WithinRestoreRule(const uint8_t (&found)[kHdcpKeySize]) {
  return MissingBitBytes(found, gKeyBackupBuffer) <= kMaxMissingBitBytes;
}

bool Refuse(const CHAR16 *message, EFI_STATUS status = EFI_SUCCESS) {
  Print(message, status);
  return false;
}

// With this chip's backup: what the chip holds goes on as it is, or the backup replaces it.
bool SettleWithBackup(bool stable) {
  if (stable && Same(HdcpKeyBuffer, gKeyBackupBuffer))
    return true;
  // Each pass is judged on its own: cells left half-erased may read differently each time, and
  // a failed read gives 0xFF, which lacks no bit. Neither may stop a recovery the backup allows.
  if (!WithinRestoreRule(HdcpKeyBuffer) || !WithinRestoreRule(gKeyCheckBuffer)) {
    if (!stable)
      return Refuse(u"\n VTQ_002K  SaveHdcpKeyFromFlash unstable, flash not erased");
    return Refuse(u"\n VTQ_002K  HdcpKey backup belongs to another chip, flash not erased");
  }
  for (uint32_t i = 0; i < kHdcpKeySize; ++i)
    HdcpKeyBuffer[i] = gKeyBackupBuffer[i];
  Print(u"\n VTQ_002B  HdcpKey restored from backup");
  return true;
}

// Without a backup: only a key area read the same twice and with no blank page is the key.
bool StoreNewBackup(bool stable) {
  if (!stable)
    return Refuse(u"\n VTQ_002K  SaveHdcpKeyFromFlash unstable, flash not erased");
  const uint32_t blank = BlankKeyPages(HdcpKeyBuffer);
  if (blank != 0) {
    Print(u"\n VTQ_002K  HdcpKey blank (%d of %d pages) and no backup, flash not erased", blank,
          kHdcpKeyPages);
    return false;
  }
  EFI_STATUS status = SetVariable(kKeyBackupName, kKeyBackupGuid, kKeyBackupAttributes,
                                  kHdcpKeySize, HdcpKeyBuffer);
  if (EfiIsError(status))
    return Refuse(u"\n VTQ_002K  HdcpKey backup NG = %r, flash not erased", status);
  return true;
}

} // namespace

uint32_t MissingBitBytes(const uint8_t (&found)[kHdcpKeySize],
                         const uint8_t (&backup)[kHdcpKeySize]) {
  uint32_t missing = 0;
  for (uint32_t i = 0; i < kHdcpKeySize; ++i)
    if ((found[i] & backup[i]) != backup[i])
      ++missing;
  return missing;
}

uint32_t BlankKeyPages(const uint8_t (&area)[kHdcpKeySize]) {
  uint32_t blank = 0;
  for (uint32_t start = 0; start < kHdcpKeySize; start += kFlashPageSize) {
    bool erased = true;
    for (uint32_t i = start; i < kHdcpKeySize && i < start + kFlashPageSize; ++i)
      erased = erased && area[i] == 0xFF;
    if (erased)
      ++blank;
  }
  return blank;
}

bool TakeKeyAreaIntoCustody() {
  const bool stable = SaveTwice();
  Backup backup = Backup::None;
  EFI_STATUS status = LoadBackup(&backup);
  if (EfiIsError(status))
    return Refuse(u"\n VTQ_002K  HdcpKey backup NG = %r, flash not erased", status);
  switch (backup) {
  case Backup::NotOurs:
    return Refuse(u"\n VTQ_002K  HdcpKey backup not stored by this tool, flash not erased");
  case Backup::Ours:
    return SettleWithBackup(stable);
  case Backup::None:
    break;
  }
  return StoreNewBackup(stable);
}

void ReleaseKeyBackup() {
  // A delete that fails leaves a copy equal to the chip's key area, which does no harm.
  SetVariable(kKeyBackupName, kKeyBackupGuid, kKeyBackupAttributes, 0, nullptr);
}

void ForgetKeyArea() {
  ClearKeyMaterial(HdcpKeyBuffer, kHdcpKeySize);
  ClearKeyMaterial(gKeyCheckBuffer, kHdcpKeySize);
  ClearKeyMaterial(gKeyBackupBuffer, kHdcpKeySize);
}

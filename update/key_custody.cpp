#include "update/key_custody.h"

#include "chip/flash.h"
#include "chip/registers.h"
#include "console/console.h"
#include "uefi/firmware.h"

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

void Clear(uint8_t *buffer, uint32_t size) {
  // Through a volatile pointer, so the stores cannot be dropped as dead.
  volatile uint8_t *p = buffer;
  for (uint32_t i = 0; i < size; ++i)
    p[i] = 0;
}

// Two whole passes that agree, with every transfer of both accepted by the bus: a read that went
// wrong once cannot reach the flash after the erase.
bool SaveVerified() {
  ClearBusFault();
  SaveHdcpKeyFromFlash(HdcpKeyBuffer);
  SaveHdcpKeyFromFlash(gKeyCheckBuffer);
  return !BusFaultSeen() && Same(HdcpKeyBuffer, gKeyCheckBuffer);
}

// Reads the stored backup; *found is false when there is none of the key area's size (another
// size counts as none and is replaced).
EFI_STATUS LoadBackup(bool *found) {
  *found = false;
  UINTN size = kHdcpKeySize;
  EFI_STATUS status = GetVariable(kKeyBackupName, kKeyBackupGuid, nullptr, &size, gKeyBackupBuffer);
  if (status == EFI_NOT_FOUND || status == EFI_BUFFER_TOO_SMALL)
    return EFI_SUCCESS;
  if (EfiIsError(status))
    return status;
  *found = size == kHdcpKeySize;
  return EFI_SUCCESS;
}

bool Refuse(const CHAR16 *message, EFI_STATUS status = EFI_SUCCESS) {
  Print(message, status);
  return false;
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

bool TakeKeyAreaIntoCustody() {
  if (!SaveVerified())
    return Refuse(u"\n VTQ_002K  SaveHdcpKeyFromFlash unstable, flash not erased");
  bool found = false;
  EFI_STATUS status = LoadBackup(&found);
  if (EfiIsError(status))
    return Refuse(u"\n VTQ_002K  HdcpKey backup NG = %r, flash not erased", status);
  if (found) {
    if (Same(HdcpKeyBuffer, gKeyBackupBuffer))
      return true;
    // Erasing and unfinished programming only raise bits, so an update cut short leaves a key
    // area that lacks none of the backup's bits outside a page or two.
    if (MissingBitBytes(HdcpKeyBuffer, gKeyBackupBuffer) > kMaxMissingBitBytes)
      return Refuse(u"\n VTQ_002K  HdcpKey backup belongs to another chip, flash not erased");
    for (uint32_t i = 0; i < kHdcpKeySize; ++i)
      HdcpKeyBuffer[i] = gKeyBackupBuffer[i];
    Print(u"\n VTQ_002B  HdcpKey restored from backup");
    return true;
  }
  status = SetVariable(kKeyBackupName, kKeyBackupGuid, kKeyBackupAttributes, kHdcpKeySize,
                       HdcpKeyBuffer);
  if (EfiIsError(status))
    return Refuse(u"\n VTQ_002K  HdcpKey backup NG = %r, flash not erased", status);
  return true;
}

void ReleaseKeyBackup() {
  // A delete that fails leaves a copy equal to the chip's key area, which does no harm.
  SetVariable(kKeyBackupName, kKeyBackupGuid, kKeyBackupAttributes, 0, nullptr);
}

void ForgetKeyArea() {
  Clear(HdcpKeyBuffer, kHdcpKeySize);
  Clear(gKeyCheckBuffer, kHdcpKeySize);
  Clear(gKeyBackupBuffer, kHdcpKeySize);
  Clear(ReadBackBuffer + kHdcpKeyAddress, kHdcpKeySize);
}

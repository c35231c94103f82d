// The /f update. Its messages are exact to the byte on purpose (see console/console.h): do not
// tidy them.
#include "update/update.h"

#include "catalogue/catalogue.h"
#include "chip/flash.h"
#include "chip/registers.h"
#include "console/console.h"
#include "platform/cmos.h"
#include "uefi/services.h"
#include "update/key_custody.h"
#include "update/outcome.h"

uint8_t ReadBackBuffer[kReadBackBufferSize];

namespace {

// The key area's place in the read-back buffer.
uint8_t (&ReadBackKeyArea())[kHdcpKeySize] {
  return *reinterpret_cast<uint8_t(*)[kHdcpKeySize]>(ReadBackBuffer + kHdcpKeyAddress);
}

// Where the read-back first differs from what was written, if anywhere.
struct Difference {
  bool found;
  uint32_t offset;
  uint8_t read;
  uint8_t expected;
};

Difference FirstDifference(const uint8_t *read, const uint8_t *expected, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (read[i] != expected[i])
      return Difference{true, i, read[i], expected[i]};
  return Difference{false, 0, 0, 0};
}

// CMOS gets back the version found before the update.
UpdateResult ReportFailure(const FirmwareVersion &onboard) {
  PublishVersion(onboard);
  SetAttribute(kAttributeLightRed);
  SetUpdateStatus(kStatusCompareFailed);
  Print(u"\n VTQ_002J  upgrade Fail");
  SendEcCommand(kEcUpdateFailed);
  Print(u"\n Please shutdown you system and power On again\n \n");
  SetUpdateStatus(kStatusEnded);
  return UpdateResult::CompareFailed;
}

UpdateResult ReportSuccess(const FirmwareVersion &target) {
  const EFI_STATUS released = ReleaseKeyBackup();
  Print(u"\n VTQ_005C Compare  pass!");
  PublishVersion(target);
  SetUpdateStatus(kStatusComparePassed);
  SetAttribute(kAttributeLightGreen);
  Print(u"\n VTQ_002J  upgrade success");
  // The update stands; the operator must still learn that the key copy outlives it.
  if (EfiIsError(released))
    Print(u"\n VTQ_002J  HdcpKey backup not deleted = %r, a copy stays in NV storage", released);
  SendEcCommand(kEcUpdatePassed);
  Print(u"\n ================PASS================n");
  Print(u"\n Please shutdown you system and power On again\n \n");
  SetUpdateStatus(kStatusEnded);
  return UpdateResult::Passed;
}

// The progress line, drawn over itself on row 7 once per page.
void ShowProgress(uint16_t page, uint16_t pages) {
  SetCursorPosition(0, 7);
  int32_t percent = (static_cast<int32_t>(page) + 1) * 100 / static_cast<int32_t>(pages);
  Print(u" VTQ_002E  =====Updating LT7911D  %d %% percent =====", percent);
}

// One attempt with the key area in custody: erase, write the image and the key area, read both
// back and compare. True when the bus delivered the whole read-back and both compares passed.
bool EraseWriteAndVerify(const CatalogueEntry &entry) {
  Print(u"\n VTQ_002C  BlockErase");
  BlockErase();
  SetUpdateStatus(kStatusErased);
  Stall(1000000); // the erase keeps the flash busy up to a second; programs meanwhile are lost

  Print(u"\n VTQ_002D  WriteFirmwareToFlash");
  WriteFirmwareToFlash(entry.image, entry.length, ShowProgress);

  SetUpdateStatus(kStatusFirmwareWritten);
  Print(u"\n VTQ_002F  WriteHdcpKeyToFlash");
  WriteHdcpKeyToFlash(HdcpKeyBuffer);

  SetUpdateStatus(kStatusKeyWritten);
  Print(u"\n VTQ_002G  ReadFirmwareFromFlash");
  ClearBusFault();
  ReadFirmwareFromFlash(entry.length, ReadBackBuffer);
  // The key area is the chip's own and no image can restore it: read it back too.
  Print(u"\n VTQ_002H  ReadHdcpKeyFromFlash");
  SaveHdcpKeyFromFlash(ReadBackKeyArea());
  // A failed read leaves 0xFF, where the image may hold 0xFF too, and a failed write reads the
  // wrong place: a read-back with any failed transfer proves nothing either way. On a bus the
  // run has given up, every transfer since counts as failed.
  const bool delivered = !BusFaultSeen();

  SetUpdateStatus(kStatusReadBack);
  Print(u"\n VTQ_002I  Comparing...");
  Print(u"\n VTQ_005A Compare");
  if (!delivered) {
    Print(u"\n VTQ_005D Compare not made, a read-back transfer failed  fail");
    return false;
  }

  Difference d = FirstDifference(ReadBackBuffer, entry.image, entry.length);
  if (d.found) {
    Print(u"\n VTQ_005B Compare ReadFirmware[%04X]=[ %04X]   != OriFW[%04X]=[ %04X]  fail",
          d.offset, d.read, d.offset, d.expected);
    return false;
  }
  d = FirstDifference(ReadBackKeyArea(), HdcpKeyBuffer, kHdcpKeySize);
  if (d.found) {
    Print(u"\n VTQ_005B Compare ReadHdcpKey[%04X]=[ %04X]   != HdcpKey[%04X]=[ %04X]  fail",
          d.offset, d.read, d.offset, d.expected);
    return false;
  }
  return true;
}

// The run itself; `versions` gets the on-board and target versions as soon as they are known, and
// the attempts as each starts.
UpdateResult Update(uint8_t requestedCid, uint8_t requestedPid, uint8_t maxAttempts,
                    UpdateOutcome &versions) {
  EnableCursor(false);
  SelectEntry(requestedCid, requestedPid);
  const CatalogueEntry &entry = SelectedEntry();
  const FirmwareVersion target = EntryVersion(entry);
  versions.target = target;
  // A build without the genuine images must never brick a real panel and call it success: its
  // test patterns go only to the simulated chip, and elsewhere nothing reaches the chip or CMOS.
  if (!entry.genuine && !ChipBusIsSimulated()) {
    Print(u"\n VTQ_002K  FW image %s [ %02d.%02d.%02d ] is a test pattern, not for a real "
          u"panel, nothing written",
          entry.model, entry.cid, entry.pid, entry.txx);
    return UpdateResult::TestImageRefused;
  }
  const FirmwareVersion onboard = ReadOnboardVersion();
  PublishVersion(onboard);
  versions.onboard = onboard;
  ReleaseRegisterAccess();
  Stall(1000000); // the chip's own firmware runs on a second before the EC hears of the update
  SendEcCommand(kEcUpdateStarting);
  Print(
      u"\n VTQ_001 LT7911D FW [ CID_PID_Txx ] flash from [ %02d.%02d.%02d ] to [ %02d.%02d.%02d ] ",
      onboard.cid, onboard.pid, onboard.txx, target.cid, target.pid, target.txx);
  Stall(500000); // the EC acts on 0x8B before the chip is addressed again

  uint16_t chipId = ReadChipId();
  if (chipId != kExpectedChipId) {
    Print(u"\nVTQ_001   Read chipid fail(chipid[%04X] !=0x1605),please check hardware", chipId);
    SetUpdateStatus(kStatusStoppedBeforeErase);
    Print(u"\n VTQ_002L  the chip offline");
    return UpdateResult::WrongChip;
  }
  Print(u"\n VTQ_001   Read chipid PASS");
  Stall(10000); // a short settle after the id read, before the controller is configured

  if (!ImageIntact(entry)) {
    Print(u"\n VTQ_002K  FW image %s [ %02d.%02d.%02d ] damaged, flash not erased", entry.model,
          entry.cid, entry.pid, entry.txx);
    SetUpdateStatus(kStatusStoppedBeforeErase);
    return UpdateResult::StoppedBeforeErase;
  }

  Print(u"\n VTQ_002A  ConfigPara");
  ConfigPara();
  Stall(100000); // the controller takes the configuration (program and erase enabled)

  SetUpdateStatus(kStatusConfigured);
  Print(u"\n VTQ_002B  SaveHdcpKeyFromFlash");
  // From a boot option nobody is there to run it again: a read that failed is read again.
  if (!TakeKeyAreaIntoCustody(maxAttempts)) {
    SetUpdateStatus(kStatusStoppedBeforeErase);
    return UpdateResult::StoppedBeforeErase;
  }

  SetUpdateStatus(kStatusKeySaved);
  for (uint8_t attempt = 1;; ++attempt) {
    versions.attempts = attempt;
    if (EraseWriteAndVerify(entry))
      return ReportSuccess(target);
    // Each attempt erases the whole flash and writes the key area back from custody, so another
    // one is safe; on a dead bus it would only fail again.
    if (attempt >= maxAttempts || ChipBusAbandoned())
      return ReportFailure(onboard);
    Print(u"\n VTQ_002M  attempt %d of %d failed, trying again", attempt, maxAttempts);
  }
}

} // namespace

UpdateOutcome UpdateProcedure(uint8_t requestedCid, uint8_t requestedPid, uint8_t maxAttempts) {
  UpdateOutcome outcome{};
  outcome.result = Update(requestedCid, requestedPid, maxAttempts, outcome);
  ForgetKeyArea();
  ClearKeyMaterial(ReadBackKeyArea(), kHdcpKeySize);
  return outcome;
}

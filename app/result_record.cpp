#include "app/result_record.h"

#include "app/build_id.h"
#include "uefi/services.h"

namespace {

ResultRecord gRecord;
char gRecordText[kResultRecordBytes];

RecordVersion VersionOf(const FirmwareVersion &v) {
  return {v.cid, v.pid, v.txx};
}

} // namespace

void DeleteResultRecord() {
  // Attributes 0, not the record's own: the store deletes a variable of any attributes that way.
  // With ours, a record of other attributes (planted, or left by another build) would be refused
  // as a rewrite, would refuse our store too, and its text would be read as this run's.
  SetVariable(kResultRecordName, kResultRecordGuid, 0, 0, nullptr);
}

void StoreResultRecord(uint8_t cid, uint8_t pid, int32_t exitStatus, const FirmwareVersion *from,
                       const FirmwareVersion *to, BootEnd then, uint8_t attempts) {
  ResultRecord &r = gRecord;
  r = ResultRecord{};
  r.form = 2;
  r.cid = cid;
  r.pid = pid;
  r.exit = exitStatus;
  r.hasFrom = from != nullptr;
  if (from != nullptr)
    r.from = VersionOf(*from);
  r.hasTo = to != nullptr;
  if (to != nullptr)
    r.to = VersionOf(*to);
  EFI_TIME t{};
  r.hasTime = !EfiIsError(GetTime(&t));
  r.time = {t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second};
  r.then = then;
  r.attempts = attempts;
  const char *id = kPanelupBuildMark + kBuildIdOffset;
  for (uint32_t n = 0; n < kMaxBuildIdChars && id[n] != 0 && id[n] != ' '; ++n)
    r.build[n] = id[n];
  const uint32_t length = FormatResultRecord(r, gRecordText);
  SetVariable(kResultRecordName, kResultRecordGuid, kResultRecordAttributes, length, gRecordText);
}

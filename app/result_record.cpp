#include "app/result_record.h"

#include "app/build_id.h"
#include "app/calendar.h"
#include "uefi/services.h"

namespace {

// The longest record: three-digit fields, a whole time, the longest end and build id, and the
// most attempts a schedule asks for (one digit).
constexpr uint32_t kRecordBytes = 192;
static_assert(sizeof("panelup-result/2 cid=255 pid=255 exit=-2147483648 from=255.255.255 "
                     "to=255.255.255 time=9999-12-31T23:59:59 then=power-cycle attempts=9 build=") -
                  1 + kMaxBuildIdChars <=
              kRecordBytes);

struct Record {
  char text[kRecordBytes];
  uint32_t length;
};

void Append(Record &r, const char *text) {
  for (; *text != 0 && r.length < kRecordBytes; ++text)
    r.text[r.length++] = *text;
}

// Decimal, at least `digits` digits (zero-filled), as %02d prints a version.
void AppendNumber(Record &r, int64_t value, uint32_t digits = 1) {
  if (value < 0) {
    Append(r, "-");
    value = -value;
  }
  char reversed[20];
  uint32_t n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 || n < digits);
  while (n > 0 && r.length < kRecordBytes)
    r.text[r.length++] = reversed[--n];
}

void AppendVersion(Record &r, const FirmwareVersion *v) {
  if (v == nullptr) {
    Append(r, "none");
    return;
  }
  AppendNumber(r, v->cid, 2);
  Append(r, ".");
  AppendNumber(r, v->pid, 2);
  Append(r, ".");
  AppendNumber(r, v->txx, 2);
}

void AppendTime(Record &r) {
  EFI_TIME t{};
  if (EfiIsError(GetTime(&t)) || !PlausibleTime(t)) {
    Append(r, "none");
    return;
  }
  AppendNumber(r, t.Year, 4);
  Append(r, "-");
  AppendNumber(r, t.Month, 2);
  Append(r, "-");
  AppendNumber(r, t.Day, 2);
  Append(r, "T");
  AppendNumber(r, t.Hour, 2);
  Append(r, ":");
  AppendNumber(r, t.Minute, 2);
  Append(r, ":");
  AppendNumber(r, t.Second, 2);
}

const char *EndName(BootEnd end) {
  switch (end) {
  case BootEnd::Reboot:
    return "reboot";
  case BootEnd::PowerCycle:
    return "power-cycle";
  case BootEnd::Return:
    break;
  }
  return "return";
}

void AppendBuildId(Record &r) {
  const char *id = kPanelupBuildMark + kBuildIdOffset;
  for (uint32_t n = 0;
       n < kMaxBuildIdChars && id[n] != 0 && id[n] != ' ' && r.length < kRecordBytes; ++n)
    r.text[r.length++] = id[n];
}

Record gRecord;

} // namespace

void DeleteResultRecord() {
  // Attributes 0, not the record's own: the store deletes a variable of any attributes that way.
  // With ours, a record of other attributes (planted, or left by another build) would be refused
  // as a rewrite, would refuse our store too, and its text would be read as this run's.
  SetVariable(kResultRecordName, kResultRecordGuid, 0, 0, nullptr);
}

void StoreResultRecord(uint8_t cid, uint8_t pid, int32_t exitStatus, const FirmwareVersion *from,
                       const FirmwareVersion *to, BootEnd then, uint8_t attempts) {
  Record &r = gRecord;
  r.length = 0;
  Append(r, "panelup-result/2 cid=");
  AppendNumber(r, cid);
  Append(r, " pid=");
  AppendNumber(r, pid);
  Append(r, " exit=");
  AppendNumber(r, exitStatus);
  Append(r, " from=");
  AppendVersion(r, from);
  Append(r, " to=");
  AppendVersion(r, to);
  Append(r, " time=");
  AppendTime(r);
  Append(r, " then=");
  Append(r, EndName(then));
  Append(r, " attempts=");
  AppendNumber(r, attempts);
  Append(r, " build=");
  AppendBuildId(r);
  SetVariable(kResultRecordName, kResultRecordGuid, kResultRecordAttributes, r.length, r.text);
}

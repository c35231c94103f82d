#include "app/result_record.h"

#include "uefi/services.h"

namespace {

// The longest record: three-digit fields and a whole time.
constexpr uint32_t kRecordBytes = 128;
static_assert(sizeof("panelup-result/1 cid=255 pid=255 exit=-2147483648 from=255.255.255 "
                     "to=255.255.255 time=9999-12-31T23:59:59") <= kRecordBytes);

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

bool LeapYear(uint32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Month 1 to 12.
uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  constexpr uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

// A clock that fails, or gives a time no calendar has, is no time at all.
bool Plausible(const EFI_TIME &t) {
  return t.Year >= 1900 && t.Year <= 9999 && t.Month >= 1 && t.Month <= 12 && t.Day >= 1 &&
         t.Day <= DaysInMonth(t.Year, t.Month) && t.Hour < 24 && t.Minute < 60 && t.Second < 60;
}

void AppendTime(Record &r) {
  EFI_TIME t{};
  if (EfiIsError(GetTime(&t)) || !Plausible(t)) {
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

Record gRecord;

} // namespace

void DeleteResultRecord() {
  // Attributes 0, not the record's own: the store deletes a variable of any attributes that way.
  // With ours, a record of other attributes (planted, or left by another build) would be refused
  // as a rewrite, would refuse our store too, and its text would be read as this run's.
  SetVariable(kResultRecordName, kResultRecordGuid, 0, 0, nullptr);
}

void StoreResultRecord(uint8_t cid, uint8_t pid, int32_t exitStatus, const FirmwareVersion *from,
                       const FirmwareVersion *to) {
  Record &r = gRecord;
  r.length = 0;
  Append(r, "panelup-result/1 cid=");
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
  SetVariable(kResultRecordName, kResultRecordGuid, kResultRecordAttributes, r.length, r.text);
}

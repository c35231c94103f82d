#include "formats/result_record.h"

#include "formats/exit_status.h"
#include "formats/scan.h"

namespace {

static_assert(sizeof("panelup-result/2 cid=255 pid=255 exit=-2147483648 from=255.255.255 "
                     "to=255.255.255 time=9999-12-31T23:59:59 then=power-cycle attempts=9 build=") -
                  1 + kMaxBuildIdChars <=
              kResultRecordBytes);

bool LeapYear(uint32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

void AddVersion(Out &out, bool has, const RecordVersion &v) {
  if (!has) {
    out.Add("none");
    return;
  }
  out.Number(v.cid, 2);
  out.Add(".");
  out.Number(v.pid, 2);
  out.Add(".");
  out.Number(v.txx, 2);
}

bool TakeVersion(Scan &s, bool *has, RecordVersion *v) {
  *has = !s.Take("none");
  if (!*has)
    return true;
  uint32_t parts[3];
  for (int i = 0; i < 3; ++i)
    if ((i > 0 && !s.Take(".")) || !s.Decimal(3, &parts[i]))
      return false;
  if (parts[0] > 255 || parts[1] > 255 || parts[2] > 255)
    return false;
  *v = {static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1]),
        static_cast<uint8_t>(parts[2])};
  return true;
}

bool TakeTime(Scan &s, bool *has, RecordTime *t) {
  *has = !s.Take("none");
  if (!*has)
    return true;
  uint32_t f[6];
  const char *seps[6] = {"", "-", "-", "T", ":", ":"};
  for (int i = 0; i < 6; ++i)
    if (!s.Take(seps[i]) || !s.Fixed(i == 0 ? 4 : 2, &f[i]))
      return false;
  *t = {static_cast<uint16_t>(f[0]), static_cast<uint8_t>(f[1]), static_cast<uint8_t>(f[2]),
        static_cast<uint8_t>(f[3]),  static_cast<uint8_t>(f[4]), static_cast<uint8_t>(f[5])};
  return true;
}

// A CID or PID as the bash reader of earlier panelupctl took it: up to three digits, any value,
// the range judged after the form.
bool TakeField(Scan &s, const char *key, uint32_t digits, uint32_t *value) {
  return s.Take(key) && s.Decimal(digits, value);
}

// What no run of the tool writes together (app/main.cpp, RunFlash): without a bus no version and
// no attempt; with one a target version; a pass or a failed compare after an attempt at least.
bool ToolWrites(const ResultRecord &r) {
  if (r.exit == kExitBusNotFound)
    return !r.hasFrom && !r.hasTo && (r.form == 1 || r.attempts == 0);
  if (!r.hasTo || (!r.hasFrom && r.exit != kExitStoppedBeforeErase))
    return false;
  if (r.form == 2 && (r.exit == kExitOk || r.exit == kExitCompareFailed))
    return r.attempts >= 1;
  return true;
}

} // namespace

const char *BootEndName(BootEnd end) {
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

uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  constexpr uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

bool CalendarTime(const RecordTime &t) {
  return t.year >= 1900 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= DaysInMonth(t.year, t.month) && t.hour < 24 && t.minute < 60 && t.second < 60;
}

uint32_t FormatResultRecord(const ResultRecord &r, char (&text)[kResultRecordBytes]) {
  Out out{text, kResultRecordBytes, 0};
  out.Add("panelup-result/2 cid=");
  out.Number(r.cid);
  out.Add(" pid=");
  out.Number(r.pid);
  out.Add(" exit=");
  out.Number(r.exit);
  out.Add(" from=");
  AddVersion(out, r.hasFrom, r.from);
  out.Add(" to=");
  AddVersion(out, r.hasTo, r.to);
  out.Add(" time=");
  if (r.hasTime && CalendarTime(r.time)) {
    const RecordTime &t = r.time;
    out.Number(t.year, 4);
    out.Add("-");
    out.Number(t.month, 2);
    out.Add("-");
    out.Number(t.day, 2);
    out.Add("T");
    out.Number(t.hour, 2);
    out.Add(":");
    out.Number(t.minute, 2);
    out.Add(":");
    out.Number(t.second, 2);
  } else {
    out.Add("none");
  }
  out.Add(" then=");
  out.Add(BootEndName(r.then));
  out.Add(" attempts=");
  out.Number(r.attempts);
  out.Add(" build=");
  char id[kMaxBuildIdChars + 1];
  uint32_t n = 0;
  for (; n < kMaxBuildIdChars && r.build[n] != 0 && r.build[n] != ' '; ++n)
    id[n] = r.build[n];
  id[n] = 0;
  out.Add(id);
  return out.length;
}

RecordProblem ParseResultRecord(const char *text, uint32_t size, ResultRecord *record) {
  // Twice the longest record: room for a form of a later build, never for anything unbounded.
  if (size > 2 * kResultRecordBytes)
    return RecordProblem::TooLong;
  for (uint32_t i = 0; i < size; ++i)
    if (text[i] < 0x20 || text[i] > 0x7e)
      return RecordProblem::NotText;
  Scan s = ScanOf(text, size);
  ResultRecord r{};
  if (s.Take("panelup-result/1 "))
    r.form = 1;
  else if (s.Take("panelup-result/2 "))
    r.form = 2;
  else
    return RecordProblem::UnknownForm;
  uint32_t cid = 0;
  uint32_t pid = 0;
  uint32_t exit = 0;
  if (!TakeField(s, "cid=", 3, &cid) || !TakeField(s, " pid=", 3, &pid) ||
      !TakeField(s, " exit=", 10, &exit) || !s.Take(" from=") ||
      !TakeVersion(s, &r.hasFrom, &r.from) || !s.Take(" to=") || !TakeVersion(s, &r.hasTo, &r.to) ||
      !s.Take(" time=") || !TakeTime(s, &r.hasTime, &r.time))
    return RecordProblem::NotInForm;
  if (r.form == 2) {
    if (!s.Take(" then="))
      return RecordProblem::NotInForm;
    if (s.Take("reboot"))
      r.then = BootEnd::Reboot;
    else if (s.Take("power-cycle"))
      r.then = BootEnd::PowerCycle;
    else if (s.Take("return"))
      r.then = BootEnd::Return;
    else
      return RecordProblem::NotInForm;
    uint32_t attempts = 0;
    if (!TakeField(s, " attempts=", 1, &attempts) || !s.Take(" build="))
      return RecordProblem::NotInForm;
    r.attempts = static_cast<uint8_t>(attempts);
    const uint32_t idSize = static_cast<uint32_t>(s.end - s.at);
    if (!ValidBuildId(s.at, idSize))
      return RecordProblem::NotInForm;
    for (uint32_t i = 0; i < idSize; ++i)
      r.build[i] = s.at[i];
    s.at = s.end;
  }
  if (!s.AtEnd())
    return RecordProblem::NotInForm;
  if (cid > 255 || pid > 255)
    return RecordProblem::ByteRange;
  r.cid = static_cast<uint8_t>(cid);
  r.pid = static_cast<uint8_t>(pid);
  if (!IsFlashExitStatus(exit))
    return RecordProblem::ExitStatus;
  r.exit = static_cast<int32_t>(exit);
  if (r.hasTime && !CalendarTime(r.time))
    return RecordProblem::NotACalendar;
  if (!ToolWrites(r))
    return RecordProblem::NotThisTool;
  *record = r;
  return RecordProblem::None;
}

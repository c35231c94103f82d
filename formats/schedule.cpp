#include "formats/schedule.h"

#include "formats/scan.h"

static_assert(sizeof("panelup-schedule/1 then=power-cycle attempts=9") - 1 < kScheduleBytes);

uint32_t FormatSchedule(const Schedule &schedule, char (&text)[kScheduleBytes]) {
  Out out{text, kScheduleBytes, 0};
  out.Add("panelup-schedule/1 then=");
  out.Add(BootEndName(schedule.then));
  out.Add(" attempts=");
  out.Number(schedule.attempts);
  return out.length;
}

bool ParseSchedule(const char *text, uint32_t size, Schedule *schedule) {
  Scan s = ScanOf(text, size);
  if (!s.Take("panelup-schedule/1 then="))
    return false;
  BootEnd then = BootEnd::Return;
  if (s.Take("reboot"))
    then = BootEnd::Reboot;
  else if (s.Take("power-cycle"))
    then = BootEnd::PowerCycle;
  else if (!s.Take("return"))
    return false;
  if (!s.Take(" attempts=") || s.end - s.at != 1 || *s.at < '1' || *s.at > '9')
    return false;
  *schedule = {then, static_cast<uint8_t>(*s.at - '0')};
  return true;
}

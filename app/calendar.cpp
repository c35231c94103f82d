#include "app/calendar.h"

#include "formats/result_record.h"

namespace {

constexpr uint32_t kSecondsPerDay = 24 * 60 * 60;

} // namespace

// The record's rule, so a time the tool stores is one panelupctl reads.
bool PlausibleTime(const EFI_TIME &t) {
  return CalendarTime({t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second});
}

bool AddSeconds(EFI_TIME &t, uint32_t seconds) {
  if (!PlausibleTime(t) || seconds >= kSecondsPerDay)
    return false;
  EFI_TIME later = t;
  const uint32_t s = t.Second + seconds;
  later.Second = static_cast<uint8_t>(s % 60);
  const uint32_t m = t.Minute + s / 60;
  later.Minute = static_cast<uint8_t>(m % 60);
  const uint32_t h = t.Hour + m / 60;
  later.Hour = static_cast<uint8_t>(h % 24);
  later.Nanosecond = 0;
  // Less than a day on: at most into the next day.
  if (h >= 24 && ++later.Day > DaysInMonth(later.Year, later.Month)) {
    later.Day = 1;
    if (++later.Month > 12) {
      later.Month = 1;
      if (++later.Year > 9999)
        return false;
    }
  }
  t = later;
  return true;
}

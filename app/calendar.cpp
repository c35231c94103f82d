#include "app/calendar.h"

namespace {

constexpr uint32_t kSecondsPerDay = 24 * 60 * 60;

bool LeapYear(uint32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Month 1 to 12.
uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  constexpr uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

} // namespace

bool PlausibleTime(const EFI_TIME &t) {
  return t.Year >= 1900 && t.Year <= 9999 && t.Month >= 1 && t.Month <= 12 && t.Day >= 1 &&
         t.Day <= DaysInMonth(t.Year, t.Month) && t.Hour < 24 && t.Minute < 60 && t.Second < 60;
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

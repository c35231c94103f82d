#include "app/unattended.h"

#include "app/calendar.h"
#include "console/console.h"
#include "uefi/services.h"

namespace {

// How long the machine stays off before the clock's alarm switches it on again. The shutdown must
// have reached the soft-off state, and the panel's supply must have fallen so that the bridge
// starts anew, before the alarm is due: an alarm that comes while the machine is still going
// down is lost, and the machine stays off. The alarm has whole seconds; a minute leaves room for
// a slow shutdown and is still nothing to a fleet.
constexpr uint32_t kWakeDelaySeconds = 60;

// Longer than any schedule; a longer variable is not one.
constexpr uint32_t kScheduleBytes = 64;
static_assert(sizeof("panelup-schedule/1 then=power-cycle attempts=9") - 1 < kScheduleBytes);

// Takes `word` off the front of [*at, end).
bool Take(const char *&at, const char *end, const char *word) {
  const char *p = at;
  for (; *word != 0; ++word, ++p)
    if (p == end || *p != *word)
      return false;
  at = p;
  return true;
}

bool ParseSchedule(const char *text, UINTN size, Schedule *schedule) {
  const char *at = text;
  const char *end = text + size;
  if (!Take(at, end, "panelup-schedule/1 then="))
    return false;
  if (Take(at, end, "reboot"))
    schedule->then = BootEnd::Reboot;
  else if (Take(at, end, "power-cycle"))
    schedule->then = BootEnd::PowerCycle;
  else if (Take(at, end, "return"))
    schedule->then = BootEnd::Return;
  else
    return false;
  if (!Take(at, end, " attempts=") || end - at != 1 || *at < '1' || *at > '9')
    return false;
  schedule->attempts = static_cast<uint8_t>(*at - '0');
  return true;
}

} // namespace

Schedule TakeSchedule() {
  char text[kScheduleBytes];
  uint32_t attributes = 0;
  UINTN size = sizeof text;
  const EFI_STATUS read = GetVariable(kScheduleName, kResultRecordGuid, &attributes, &size, text);
  if (read == EFI_NOT_FOUND)
    return kUnscheduled;
  // Attributes 0 delete it whatever its attributes. One left behind would end a later boot the
  // same way (a reboot that comes back to it), so it is trusted only once it is gone.
  const EFI_STATUS deleted = SetVariable(kScheduleName, kResultRecordGuid, 0, 0, nullptr);
  Schedule schedule = kUntrusted;
  if (read == EFI_SUCCESS && attributes == kScheduleAttributes && !EfiIsError(deleted) &&
      ParseSchedule(text, size, &schedule))
    return schedule;
  Print(u"\n VTQ_003B  PanelupSchedule not trusted, then=return attempts=1");
  return kUntrusted;
}

BootEnd SettleBootEnd(BootEnd wanted) {
  if (wanted == BootEnd::Return)
    return BootEnd::Return;
  if (wanted == BootEnd::PowerCycle) {
    EFI_TIME t{};
    EFI_STATUS status = GetTime(&t);
    if (!EfiIsError(status) && !AddSeconds(t, kWakeDelaySeconds))
      status = EFI_DEVICE_ERROR; // a clock with no calendar time gives no alarm time either
    if (!EfiIsError(status))
      status = SetWakeupTime(true, &t);
    if (!EfiIsError(status)) {
      Print(u"\n VTQ_003C  then=power-cycle, on again at %04d-%02d-%02dT%02d:%02d:%02d\n", t.Year,
            t.Month, t.Day, t.Hour, t.Minute, t.Second);
      return BootEnd::PowerCycle;
    }
    Print(u"\n VTQ_003C  wake alarm NG = %r, then=reboot\n", status);
    return BootEnd::Reboot;
  }
  Print(u"\n VTQ_003C  then=reboot\n");
  return BootEnd::Reboot;
}

void EndBoot(BootEnd end) {
  // Armed again before the reset too: should the reset not come, the watchdog still ends the
  // boot.
  SetWatchdogTimer(kBootManagerWatchdogSeconds);
  if (end == BootEnd::Reboot)
    ResetSystem(EfiResetCold);
  else if (end == BootEnd::PowerCycle)
    ResetSystem(EfiResetShutdown);
}

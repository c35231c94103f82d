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
      ParseSchedule(text, static_cast<uint32_t>(size), &schedule))
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

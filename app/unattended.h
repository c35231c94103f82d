// A /f started from a boot option, where nobody need be at the machine: the schedule panelupctl
// leaves for it, and how the boot ends once the result record is stored. Its messages are exact
// to the byte on purpose (see console/console.h).
#pragma once

#include <stdint.h>

#include "app/result_record.h"
#include "formats/schedule.h"

// A shell run: the operator is there to run it again.
constexpr Schedule kShellRun{BootEnd::Return, 1};
// A boot option without a schedule (an operator's own entry): return, as before, but with
// nobody to run it again, a failed attempt is tried again.
constexpr Schedule kUnscheduled{BootEnd::Return, 3};
// A schedule the tool does not trust: exactly a shell run's behaviour.
constexpr Schedule kUntrusted{BootEnd::Return, 1};

// Reads the schedule and deletes it, whatever it holds, so no later boot acts on it again. One
// the tool does not trust (another size or attributes, not the line above, unreadable, or left
// undeleted) gives kUntrusted and one console line.
Schedule TakeSchedule();

// Settles how the boot ends before the record says so: for a power cycle the wake alarm is set
// first; a clock that cannot be read or an alarm the firmware refuses makes it a reboot, never a
// plain power-off. Prints one line unless the run returns.
BootEnd SettleBootEnd(BootEnd wanted);

// After the record: gives the boot manager its watchdog back and resets or powers off as
// settled. Returns only to return (or on firmware whose reset returns).
void EndBoot(BootEnd end);

// The watchdog the boot manager arms before it starts a boot option (5 minutes); the shell
// disarms it.
constexpr UINTN kBootManagerWatchdogSeconds = 300;

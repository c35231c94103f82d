// The schedule: what panelupctl leaves for the next boot's /f, read and deleted by the tool
// (app/unattended.h). The UEFI variable PanelupSchedule, the result record's GUID, NV+BS+RT, one
// ASCII line without NUL or line end:
//   panelup-schedule/1 then=reboot|power-cycle|return attempts=N        (N from 1 to 9)
#pragma once

#include <stdint.h>

#include "formats/result_record.h"

inline constexpr char16_t kScheduleName[] = u"PanelupSchedule";
inline constexpr char kScheduleVariable[] = "PanelupSchedule";
constexpr uint32_t kScheduleAttributes = kRecordAttributes;

struct Schedule {
  BootEnd then;
  uint8_t attempts; // erase, write and verify attempts the update may make
};

// Longer than any schedule; a longer variable is not one.
constexpr uint32_t kScheduleBytes = 64;

uint32_t FormatSchedule(const Schedule &schedule, char (&text)[kScheduleBytes]);
// False for anything but the line above, exactly.
bool ParseSchedule(const char *text, uint32_t size, Schedule *schedule);

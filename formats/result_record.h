// The result record of a /f run, for the operating system to read after the reboot: the UEFI
// variable PanelupResult (GUID below, NV+BS+RT), one line of printable ASCII (no NUL, no line
// end). Panelup.efi writes it with FormatResultRecord, panelupctl reads it with
// ParseResultRecord:
//   panelup-result/2 cid=C pid=P exit=E from=CC.PP.TT to=CC.PP.TT time=YYYY-MM-DDTHH:MM:SS
//   then=return|reboot|power-cycle attempts=N build=ID
// from and to "none" without an SMBus controller (from also for a refused test image), time
// "none" without a calendar time from the clock; then: how the tool ended the boot (a wake alarm
// that could not be set makes it reboot); attempts: the erase, write and verify attempts it
// started, 0 when it stopped before the erase; build: the id= of the build mark
// (formats/build_mark.h). Earlier builds wrote panelup-result/1: the same up to time=.
// It holds no key material, so it has runtime access.
#pragma once

#include <stdint.h>

#include "formats/build_mark.h"

inline constexpr char16_t kResultRecordName[] = u"PanelupResult";
inline constexpr char kResultRecordVariable[] = "PanelupResult";
// c9cb406d-1006-4f44-a948-50e9b1c0b402, in EFI_GUID's layout.
struct FormatGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
inline constexpr FormatGuid kRecordGuid = {
    0xC9CB406D, 0x1006, 0x4F44, {0xA9, 0x48, 0x50, 0xE9, 0xB1, 0xC0, 0xB4, 0x02}};
inline constexpr char kRecordGuidText[] = "c9cb406d-1006-4f44-a948-50e9b1c0b402";
// NV+BS+RT, the only attributes efivarfs lets the OS write too.
constexpr uint32_t kRecordAttributes = 0x7;

// How a /f run ends the boot.
enum class BootEnd : uint8_t {
  Return,     // the exit status goes back to the shell or the boot manager
  Reboot,     // a cold reset
  PowerCycle, // the wake alarm set, then off
};
const char *BootEndName(BootEnd end);

struct RecordVersion {
  uint8_t cid;
  uint8_t pid;
  uint8_t txx;
};
struct RecordTime {
  uint16_t year;
  uint8_t month;
  uint8_t day;
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
};
// A time the calendar has: years 1900 to 9999 (EFI_TIME's range), a day the month has, hours,
// minutes and seconds in range.
bool CalendarTime(const RecordTime &t);
uint32_t DaysInMonth(uint32_t year, uint32_t month);

struct ResultRecord {
  uint8_t form; // 1 or 2
  uint8_t cid;
  uint8_t pid;
  int32_t exit;
  bool hasFrom;
  RecordVersion from;
  bool hasTo;
  RecordVersion to;
  bool hasTime;
  RecordTime time;
  // Form 2 only.
  BootEnd then;
  uint8_t attempts;
  char build[kMaxBuildIdChars + 1]; // NUL-ended
};

// Longer than any record the tool writes; a longer variable is not one.
constexpr uint32_t kResultRecordBytes = 192;

// The record as form 2, its length returned; `time` is written only when it is a calendar time.
uint32_t FormatResultRecord(const ResultRecord &record, char (&text)[kResultRecordBytes]);

enum class RecordProblem : uint8_t {
  None,
  NotText,      // a byte that is not printable ASCII
  TooLong,      // longer than any record
  UnknownForm,  // neither panelup-result/1 nor /2
  NotInForm,    // a field missing, misspelt, out of order, or something after the last one
  ByteRange,    // a CID, PID or version part above 255
  ExitStatus,   // an exit status /f never gives
  NotACalendar, // a time no calendar has
  NotThisTool,  // fields no run of the tool writes together
};

// Reads a record's text (without the attribute bytes). Anything the tool cannot have written is
// a problem, never a result: `record` is filled only with RecordProblem::None.
RecordProblem ParseResultRecord(const char *text, uint32_t size, ResultRecord *record);

// The result record of a /f run, for the operating system to read after the reboot: the UEFI
// variable PanelupResult, one line of ASCII (no NUL, no line end):
//   panelup-result/2 cid=C pid=P exit=E from=CC.PP.TT to=CC.PP.TT time=YYYY-MM-DDTHH:MM:SS
//   then=return|reboot|power-cycle attempts=N build=ID
// (one line; from and to "none" without an SMBus controller, time "none" without a calendar time
// from the clock). then: how the tool ended the boot (a wake alarm that could not be set makes
// it reboot); attempts: the erase, write and verify attempts it started, 0 when it stopped
// before the erase; build: the id= of the build mark (app/build_id.h).
// It holds no key material, so it has runtime access.
#pragma once

#include <stdint.h>

#include "chip/firmware_version.h"
#include "uefi/runtime_services.h"

inline constexpr CHAR16 kResultRecordName[] = u"PanelupResult";
// c9cb406d-1006-4f44-a948-50e9b1c0b402
inline constexpr EFI_GUID kResultRecordGuid = {
    0xC9CB406D, 0x1006, 0x4F44, {0xA9, 0x48, 0x50, 0xE9, 0xB1, 0xC0, 0xB4, 0x02}};
constexpr uint32_t kResultRecordAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

// Deletes the record an older run left, before this run searches the bus: a store that fails
// later then leaves no record rather than one that describes another run. A delete that fails
// changes nothing else of the run.
void DeleteResultRecord();

// How a /f run ends the boot.
enum class BootEnd : uint8_t {
  Return,     // the exit status goes back to the shell or the boot manager
  Reboot,     // a cold reset
  PowerCycle, // the wake alarm set, then off
};

// Stores the record of a run that searched the bus; `from` and `to` null when the bus was not
// found.
// A record that cannot be stored changes nothing else of the run.
void StoreResultRecord(uint8_t cid, uint8_t pid, int32_t exitStatus, const FirmwareVersion *from,
                       const FirmwareVersion *to, BootEnd then, uint8_t attempts);

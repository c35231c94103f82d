// Exit statuses: Panelup.efi's, handed to the shell, and panelupctl's own, which never collide
// with the ones of /f that `panelupctl status` passes on. A script tells the outcome of a run from
// this value alone.
#pragma once

#include <stdint.h>

// The update succeeded, or the command line asked for nothing the tool does (an unknown switch
// of two arguments, five or more arguments).
constexpr int32_t kExitOk = 0;
constexpr int32_t kExitUsage = 10;
// Started from a boot option whose data is neither UCS-2 nor ASCII text: nothing done, no record.
constexpr int32_t kExitLoadOptionsRefused = 11;
constexpr int32_t kExitSupportList = 21;
constexpr int32_t kExitVersionQuery = 22;
// The low 32 bits of EFI_PROTOCOL_ERROR, what the bus search fails with.
constexpr int32_t kExitBusNotFound = 24;
constexpr int32_t kExitFullSupportList = 30;
constexpr int32_t kExitBadAccessForm = 31;
// The update's compare found a difference; the same value as the status code it leaves in CMOS.
constexpr int32_t kExitCompareFailed = 248;
// The update stopped before the erase: the key area could not be kept safe, or the image to be
// written is damaged.
constexpr int32_t kExitStoppedBeforeErase = 254;
// The chip id is wrong, or four arguments without the /f switch.
constexpr int32_t kExitWrongChipOrSwitch = 255;

// Whether a /f that searched the bus can end with `status` (what its result record may hold).
constexpr bool IsFlashExitStatus(int64_t status) {
  return status == kExitOk || status == kExitBusNotFound || status == kExitCompareFailed ||
         status == kExitStoppedBeforeErase || status == kExitWrongChipOrSwitch;
}

// panelupctl's own: schedule, cancel and install use the first two; status adds the rest.
constexpr int kCtlRefused = 1;
constexpr int kCtlUsage = 2;
constexpr int kCtlNoRecord = 3;
constexpr int kCtlUnreadable = 4;
constexpr int kCtlMissedBoot = 5;
// inventory: nothing at 0x2B answered as the bridge.
constexpr int kCtlNoBridge = 6;
static_assert(!IsFlashExitStatus(kCtlRefused) && !IsFlashExitStatus(kCtlUsage) &&
              !IsFlashExitStatus(kCtlNoRecord) && !IsFlashExitStatus(kCtlUnreadable) &&
              !IsFlashExitStatus(kCtlMissedBoot) && !IsFlashExitStatus(kCtlNoBridge));

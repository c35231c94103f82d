// The result record of a /f run, for the operating system to read after the reboot; its form is
// formats/result_record.h, shared with panelupctl.
#pragma once

#include <stdint.h>

#include "chip/firmware_version.h"
#include "formats/result_record.h"
#include "uefi/runtime_services.h"

inline constexpr EFI_GUID kResultRecordGuid = {
    kRecordGuid.data1,
    kRecordGuid.data2,
    kRecordGuid.data3,
    {kRecordGuid.data4[0], kRecordGuid.data4[1], kRecordGuid.data4[2], kRecordGuid.data4[3],
     kRecordGuid.data4[4], kRecordGuid.data4[5], kRecordGuid.data4[6], kRecordGuid.data4[7]}};
constexpr uint32_t kResultRecordAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
static_assert(kResultRecordAttributes == kRecordAttributes);

// Deletes the record an older run left, before this run searches the bus: a store that fails
// later then leaves no record rather than one that describes another run. A delete that fails
// changes nothing else of the run.
void DeleteResultRecord();

// Stores the record of a run that searched the bus; `from` and `to` null when the bus was not
// found.
// A record that cannot be stored changes nothing else of the run.
void StoreResultRecord(uint8_t cid, uint8_t pid, int32_t exitStatus, const FirmwareVersion *from,
                       const FirmwareVersion *to, BootEnd then, uint8_t attempts);

// Keeping the chip's key area safe across the erase: a verified save, a copy in a non-volatile
// UEFI variable until both compares have passed, and the copy written back on a retry after an
// update that did not finish.
#pragma once

#include "chip/flash_layout.h"
#include "uefi/runtime_services.h"

// The backup variable: the key area's bytes and nothing else. Not readable at runtime, so an
// operating system booted later never sees a chip's key material.
inline constexpr CHAR16 kKeyBackupName[] = u"PanelupHdcpKey";
inline constexpr EFI_GUID kKeyBackupGuid = {
    0xB05EDAC5, 0xF6BC, 0x451F, {0xBE, 0x6A, 0xBC, 0xF4, 0xB1, 0x1D, 0xAF, 0x21}};
constexpr uint32_t kKeyBackupAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

// Bytes of a key area read back after an interrupted update may lack a bit of the backup and
// still be the same chip's: one damaged page is 16 bytes. Another chip's key lacks bits in
// about nine bytes of ten.
constexpr uint32_t kMaxMissingBitBytes = 32;

// Saves the key area twice and settles which key area the update writes back (into
// HdcpKeyBuffer), storing the backup first where needed. Prints why when it refuses; nothing
// has been erased then and the update must stop.
bool TakeKeyAreaIntoCustody();
// Both compares passed: the flash holds the key area, so the backup goes.
void ReleaseKeyBackup();
// Clears every copy of the key area the tool holds in memory.
void ForgetKeyArea();

// Bytes i where `found` lacks a bit that `backup` has set.
uint32_t MissingBitBytes(const uint8_t (&found)[kHdcpKeySize],
                         const uint8_t (&backup)[kHdcpKeySize]);

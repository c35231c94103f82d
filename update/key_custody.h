// Keeping the chip's key area safe across the erase: a verified save, a copy in a non-volatile
// UEFI variable until both compares have passed, and the copy written back on a retry after an
// update that did not finish.
#pragma once

#include "chip/flash_layout.h"
#include "uefi/runtime_services.h"

// The backup variable: the key area's bytes and nothing else. Not readable at runtime, so an
// operating system booted later never sees a chip's key material; and one with other attributes
// (an operating system can create a runtime one) was not stored by the tool and is never used.
inline constexpr CHAR16 kKeyBackupName[] = u"PanelupHdcpKey";
inline constexpr EFI_GUID kKeyBackupGuid = {
    0xB05EDAC5, 0xF6BC, 0x451F, {0xBE, 0x6A, 0xBC, 0xF4, 0xB1, 0x1D, 0xAF, 0x21}};
constexpr uint32_t kKeyBackupAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

// The restore rule. Erasing and unfinished programming only raise bits, so a key area cut short
// lacks none of its backup's bits; garbled programming (failed transfers in the write-back) does
// clear wrong bits, in up to a page (16 bytes) per failed transfer. Up to half the area may lack
// a bit of the backup and still be this chip's: another chip's random key area lacks one in nine
// bytes of ten, and falls within half with a chance far below 1e-60.
constexpr uint32_t kMaxMissingBitBytes = kHdcpKeySize / 2;
static_assert(kMaxMissingBitBytes == 143);

// The key area the update writes back after the firmware: the chip's own, as saved, or its
// backup.
extern uint8_t HdcpKeyBuffer[kHdcpKeySize];

// Saves the key area twice and settles which key area the update writes back (into
// HdcpKeyBuffer), storing the backup first where needed. Prints why when it refuses; nothing
// has been erased then and the update must stop.
bool TakeKeyAreaIntoCustody();
// Both compares passed: the flash holds the key area, so the backup goes.
void ReleaseKeyBackup();
// Clears the copies of the key area kept here.
void ForgetKeyArea();

// Bytes i where `found` lacks a bit that `backup` has set.
uint32_t MissingBitBytes(const uint8_t (&found)[kHdcpKeySize],
                         const uint8_t (&backup)[kHdcpKeySize]);
// Pages of the key area (the last 14-byte piece counts as one) that read all 0xFF: a real key
// area is random, so such a page means an erase or a write-back that did not finish.
uint32_t BlankKeyPages(const uint8_t (&area)[kHdcpKeySize]);

// Keeping the chip's key area safe across the erase: a verified save, a copy in a non-volatile
// UEFI variable until both compares have passed, and the copy written back on a retry after an
// update that did not finish.
#pragma once

#include "chip/flash_layout.h"
#include "uefi/runtime_services.h"

// The backup variable: the key area's bytes and nothing else. Not readable at runtime, so an
// operating system booted later never sees a chip's key material. Only a variable of exactly
// this size and these attributes can be the tool's; any other (an operating system can create a
// runtime one, root one of another size) is never used and never touched.
inline constexpr CHAR16 kKeyBackupName[] = u"PanelupHdcpKey";
inline constexpr EFI_GUID kKeyBackupGuid = {
    0xB05EDAC5, 0xF6BC, 0x451F, {0xBE, 0x6A, 0xBC, 0xF4, 0xB1, 0x1D, 0xAF, 0x21}};
constexpr uint32_t kKeyBackupAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;

// The unfinished-update marker: the CRC-32 of the key area the update writes back (never the
// key), stored before the erase and deleted with the backup. It outlives a lost backup, so a
// retry can tell a key area left garbled by that update from the chip's own.
inline constexpr CHAR16 kKeyMarkerName[] = u"PanelupKeyCrc";
constexpr uint32_t kKeyMarkerSize = 4;

// The restore rule. Erasing and unfinished programming leave bytes at 0xFF; garbled programming
// (failed transfers in the write-back) writes wrong bytes into up to a page (16 bytes) per failed
// transfer. So a chip's own area, cut short or garbled, differs from its backup in few programmed
// bytes, while a zeroed area or another chip's random one differs in nearly all 286. Up to half
// may differ: another chip's area falls within half with a chance far below 1e-60.
constexpr uint32_t kMaxForeignBytes = kHdcpKeySize / 2;
static_assert(kMaxForeignBytes == 143);

// The key area the update writes back after the firmware: the chip's own, as saved, or its
// backup.
extern uint8_t HdcpKeyBuffer[kHdcpKeySize];

// Saves the key area twice and settles which key area the update writes back (into
// HdcpKeyBuffer), storing the backup and the marker first where needed. Only passes the bus
// delivered whole are judged; the two are read again, up to `tries` times in all, while a
// transfer fails. Prints why when it refuses; nothing has been erased then and the update must
// stop.
bool TakeKeyAreaIntoCustody(uint8_t tries);
// Both compares passed: the flash holds the key area, so the backup and the marker go. Gives
// the first delete that failed, or EFI_SUCCESS.
EFI_STATUS ReleaseKeyBackup();
// Clears the copies of the key area kept here.
void ForgetKeyArea();

// Bytes i where `found` is programmed (not 0xFF) and differs from `backup`.
uint32_t ForeignBytes(const uint8_t (&found)[kHdcpKeySize], const uint8_t (&backup)[kHdcpKeySize]);
// Pages of the key area (the last 14-byte piece counts as one) whose bytes all equal `value`.
// A real key area is random: an all-0xFF page means an erase or a write-back that did not
// finish, an all-0x00 page an area that was wiped; neither is key material.
uint32_t KeyPagesFilledWith(const uint8_t (&area)[kHdcpKeySize], uint8_t value);

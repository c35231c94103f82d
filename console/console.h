// Console output on UEFI's ConOut: Print and the controls other subsystems call.
#pragma once

#include "uefi/efi_types.h"

// Text attributes: foreground in the low four bits, black background.
constexpr UINTN kAttributeWhite = 0x0F;
constexpr UINTN kAttributeLightGreen = 0x0A;
constexpr UINTN kAttributeLightRed = 0x0C;

// Formats and shows one message; returns the characters formatted, or 0 when the console
// refused the text.
//
// The tool's messages (in app/, catalogue/support_list.cpp, chip/registers.cpp and update/) are
// exact to the byte on purpose: operators, their scripts and the recovery stick's logs match them,
// spelling, spacing and trailing blanks included ("shutdown you system", "====PASS====n", the
// blank before the banner's line end). Do not tidy them; the whole-run tests hold every one.
UINTN Print(const CHAR16 *format, ...);

void ClearScreen();
void SetCursorPosition(UINTN column, UINTN row);
void SetAttribute(UINTN attribute);
void EnableCursor(bool visible);

// Console output on UEFI's ConOut: Print and the controls other subsystems call.
#pragma once

#include "uefi/efi_types.h"

// Text attributes: foreground in the low four bits, black background.
constexpr UINTN kAttributeWhite = 0x0F;
constexpr UINTN kAttributeLightGreen = 0x0A;
constexpr UINTN kAttributeLightRed = 0x0C;

// Formats and shows one message; returns the characters formatted, or 0 when the console
// refused the text.
UINTN Print(const CHAR16 *format, ...);

void ClearScreen();
void SetCursorPosition(UINTN column, UINTN row);
void SetAttribute(UINTN attribute);
void EnableCursor(bool visible);

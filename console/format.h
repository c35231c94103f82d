// The formatter behind Print: directives %d %u %X %x %s %r %% with optional zero flag and width.
#pragma once

#include <stdarg.h>

#include "uefi/efi_types.h"

// A formatted message holds at most this many characters; the rest is dropped.
constexpr UINTN kPrintMaxChars = 320;
constexpr UINTN kPrintBufferBytes = (kPrintMaxChars + 1) * sizeof(CHAR16);
static_assert(kPrintBufferBytes == 642);

// Formats into `buffer` (room for kPrintMaxChars characters and the NUL); returns the characters
// written, NUL not counted.
UINTN FormatMessage(CHAR16 *buffer, const CHAR16 *format, va_list args);

#include "console/console.h"
#include "console/format.h"
#include "uefi/services.h"

namespace {
// Used when the pool cannot give Print its buffer, so the message still reaches the screen.
alignas(8) CHAR16 gFallbackBuffer[kPrintMaxChars + 1];
} // namespace

UINTN Print(const CHAR16 *format, ...) {
  void *pool = nullptr;
  bool fromPool = AllocatePool(kPrintBufferBytes, &pool) == EFI_SUCCESS && pool != nullptr;
  CHAR16 *buffer = fromPool ? static_cast<CHAR16 *>(pool) : gFallbackBuffer;

  va_list args;
  va_start(args, format);
  UINTN length = FormatMessage(buffer, format, args);
  va_end(args);

  if (length > 0 && EfiIsError(gST->ConOut->OutputString(gST->ConOut, buffer)))
    length = 0;
  if (fromPool)
    FreePool(pool);
  return length;
}

void ClearScreen() {
  gST->ConOut->ClearScreen(gST->ConOut);
}

void SetCursorPosition(UINTN column, UINTN row) {
  gST->ConOut->SetCursorPosition(gST->ConOut, column, row);
}

void SetAttribute(UINTN attribute) {
  gST->ConOut->SetAttribute(gST->ConOut, attribute);
}

void EnableCursor(bool visible) {
  gST->ConOut->EnableCursor(gST->ConOut, visible ? 1 : 0);
}

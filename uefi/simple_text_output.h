// EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, the console ConOut points at. Members in UEFI's order, so
// the offsets match.
#pragma once

#include "uefi/efi_types.h"

struct SIMPLE_TEXT_OUTPUT_MODE {
  int32_t MaxMode;
  int32_t Mode;
  int32_t Attribute;
  int32_t CursorColumn;
  int32_t CursorRow;
  BOOLEAN CursorVisible;
};

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  using Reset_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, BOOLEAN);
  using String_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, const CHAR16 *);
  using QueryMode_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN, UINTN *,
                                           UINTN *);
  using SetMode_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN);
  using SetAttribute_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN);
  using ClearScreen_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *);
  using SetCursorPosition_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN, UINTN);
  using EnableCursor_t = EFI_STATUS(EFIAPI *)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, BOOLEAN);

  Reset_t Reset;
  String_t OutputString;
  String_t TestString;
  QueryMode_t QueryMode;
  SetMode_t SetMode;
  SetAttribute_t SetAttribute;
  ClearScreen_t ClearScreen;
  SetCursorPosition_t SetCursorPosition;
  EnableCursor_t EnableCursor;
  SIMPLE_TEXT_OUTPUT_MODE *Mode;
};
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, SetAttribute) == 40);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, ClearScreen) == 48);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, SetCursorPosition) == 56);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, EnableCursor) == 64);
static_assert(offsetof(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, Mode) == 72);

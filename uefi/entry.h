// Application entry: fetches the shell's arguments, converts them to narrow UTF-8 strings in
// bounded static storage and runs the tool's main entry.
#pragma once

#include "uefi/protocols.h"

// Bounds of the converted argument vector. Arguments past kMaxArguments are dropped; text past
// kArgumentTextBytes is cut at a character boundary, so conversion never overflows.
constexpr int kMaxArguments = 32;
constexpr int kArgumentTextBytes = 2048;

// Converts `argc` UCS-2 strings into the static narrow vector; returns the count kept.
int ConvertArguments(const CHAR16 *const *argv, UINTN argc, char ***out);

extern "C" EFI_STATUS EFIAPI EfiMain(EFI_HANDLE image, EFI_SYSTEM_TABLE *systemTable);

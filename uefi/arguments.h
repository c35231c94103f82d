// Shell arguments of an application image: fetched from the shell's protocol on the image handle
// and converted to narrow UTF-8 strings in bounded static storage. Shared by every application
// image we build.
#pragma once

#include "uefi/efi_types.h"

// Bounds of the converted argument vector. Arguments past kMaxArguments are dropped; text past
// kArgumentTextBytes is cut at a character boundary, so conversion never overflows.
constexpr int kMaxArguments = 32;
constexpr int kArgumentTextBytes = 2048;

// Converts `argc` UCS-2 strings into the static narrow vector; returns the count kept.
int ConvertArguments(const CHAR16 *const *argv, UINTN argc, char ***out);

// True when the last GetShellArguments or ConvertArguments dropped an argument or cut one short.
bool ArgumentsWereCut();

// Fetches the arguments the shell handed to `image` (the shell parameters protocol, the older
// shell interface, or else the loaded image's option string) and converts them. The option
// string carries a program name only when its first word names an .efi file; otherwise
// `programName` is element 0. Needs SetSystemTable first.
int GetShellArguments(EFI_HANDLE image, const CHAR16 *programName, char ***argv);

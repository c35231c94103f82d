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

// Where the last GetShellArguments found the arguments.
enum class ArgumentOrigin : uint8_t {
  None,               // no shell protocol and no loaded image: no arguments
  Shell,              // a shell's protocol on the image handle
  LoadOptions,        // the loaded image's option string, UCS-2 or ASCII text: a boot option
  LoadOptionsRefused, // an option string that is neither: no arguments
};
ArgumentOrigin ArgumentsOrigin();

// Fetches the arguments the shell handed to `image` (the shell parameters protocol, the older
// shell interface, or else the loaded image's option string) and converts them. The option
// string is read as UCS-2 or as ASCII, whichever it is printable text in, and gives no arguments
// when it is neither; it carries a program name only when its first word names an .efi file,
// otherwise `programName` is element 0. Needs SetSystemTable first.
int GetShellArguments(EFI_HANDLE image, const CHAR16 *programName, char ***argv);

#include "uefi/arguments.h"

#include "uefi/firmware.h"

static_assert(kMaxArguments < kArgumentTextBytes, "every argument kept needs room for its NUL");

namespace {

char gArgumentText[kArgumentTextBytes];
char *gArgumentVector[kMaxArguments + 1];

// Words split out of the loaded image's option string when no shell protocol is present.
CHAR16 gOptionText[kArgumentTextBytes];
CHAR16 *gOptionVector[kMaxArguments];

// Appends the UTF-8 form of `c` at `pos` if it fits before `end`; returns false when it does not.
bool PutUtf8(uint32_t c, int &pos, int end) {
  char bytes[4];
  int n = 0;
  if (c < 0x80) {
    bytes[0] = static_cast<char>(c);
    n = 1;
  } else if (c < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (c >> 6));
    bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
    n = 2;
  } else if (c < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (c >> 12));
    bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
    n = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (c >> 18));
    bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
    n = 4;
  }
  if (pos + n > end)
    return false;
  for (int i = 0; i < n; ++i)
    gArgumentText[pos++] = bytes[i];
  return true;
}

// Splits the loaded image's option string (UCS-2, space separated) into words.
UINTN SplitLoadOptions(EFI_LOADED_IMAGE_PROTOCOL *image) {
  if (!image || !image->LoadOptions)
    return 0;
  UINTN chars = image->LoadOptionsSize / 2;
  if (chars > kArgumentTextBytes - 1)
    chars = kArgumentTextBytes - 1;
  const CHAR16 *src = static_cast<const CHAR16 *>(image->LoadOptions);
  UINTN count = 0;
  bool inWord = false;
  UINTN i = 0;
  for (; i < chars && src[i] != 0; ++i) {
    CHAR16 c = src[i];
    bool separator = c == u' ' || c == u'\t';
    gOptionText[i] = separator ? 0 : c;
    if (!separator && !inWord && count < kMaxArguments)
      gOptionVector[count++] = &gOptionText[i];
    inWord = !separator;
  }
  gOptionText[i] = 0;
  return count;
}

} // namespace

int ConvertArguments(const CHAR16 *const *argv, UINTN argc, char ***out) {
  int kept = 0;
  if (argv) {
    int pos = 0;
    // The count decides the command, so every argument kept gets at least its NUL: the text of
    // each one stops short of the bytes the NULs of those after it need.
    int total = argc < static_cast<UINTN>(kMaxArguments) ? static_cast<int>(argc) : kMaxArguments;
    for (int i = 0; i < total; ++i) {
      int textEnd = kArgumentTextBytes - 1 - (total - 1 - i);
      gArgumentVector[kept++] = &gArgumentText[pos];
      const CHAR16 *s = argv[i];
      for (; s && *s; ++s) {
        uint32_t c = *s;
        if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00);
          ++s;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
          c = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        if (!PutUtf8(c, pos, textEnd))
          break;
      }
      gArgumentText[pos++] = 0;
    }
  }
  gArgumentVector[kept] = nullptr;
  *out = gArgumentVector;
  return kept;
}

int GetShellArguments(EFI_HANDLE image, char ***argv) {
  CHAR16 **wideArgv = nullptr;
  UINTN wideArgc = 0;
  void *iface = nullptr;
  if (HandleProtocol(image, kShellParametersProtocolGuid, &iface) == EFI_SUCCESS && iface) {
    auto *params = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL *>(iface);
    wideArgv = params->Argv;
    wideArgc = params->Argc;
  } else if (HandleProtocol(image, kShellInterfaceGuid, &iface) == EFI_SUCCESS && iface) {
    auto *shell = static_cast<EFI_SHELL_INTERFACE *>(iface);
    wideArgv = shell->Argv;
    wideArgc = shell->Argc;
  } else if (HandleProtocol(image, kLoadedImageProtocolGuid, &iface) == EFI_SUCCESS) {
    wideArgc = SplitLoadOptions(static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(iface));
    wideArgv = gOptionVector;
  }

  return ConvertArguments(wideArgv, wideArgc, argv);
}

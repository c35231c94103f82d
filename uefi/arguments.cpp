#include "uefi/arguments.h"

#include "uefi/services.h"
#include "uefi/loaded_image.h"
#include "uefi/shell_interface.h"
#include "uefi/shell_parameters.h"

static_assert(kMaxArguments < kArgumentTextBytes, "every argument kept needs room for its NUL");

namespace {

char gArgumentText[kArgumentTextBytes];
char *gArgumentVector[kMaxArguments + 1];

// Words split out of the loaded image's option string when no shell protocol is present, behind
// the program name.
CHAR16 gOptionText[kArgumentTextBytes];
const CHAR16 *gOptionVector[kMaxArguments];

// Set when the last fetch or conversion had to drop an argument or cut its text.
bool gArgumentsCut = false;
// Where the last GetShellArguments found them.
ArgumentOrigin gOrigin = ArgumentOrigin::None;

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

// True when the NUL-terminated `word` names an .efi file, in any case.
bool NamesEfiFile(const CHAR16 *word) {
  UINTN length = 0;
  while (word[length] != 0)
    ++length;
  if (length < 5 || word[length - 4] != u'.')
    return false;
  const char16_t *ext = u"efi";
  for (int i = 0; i < 3; ++i) {
    CHAR16 c = word[length - 3 + i];
    if (c >= u'A' && c <= u'Z')
      c = static_cast<CHAR16>(c - u'A' + u'a');
    if (c != ext[i])
      return false;
  }
  return true;
}

// A character a command line may hold: a tab or printable Latin-1.
bool CommandLineChar(uint32_t c) {
  return c == u'\t' || (c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF);
}

// A boot manager hands over the option's bytes as they were stored: UCS-2 from efibootmgr -u or
// panelupctl, plain ASCII from efibootmgr without -u. The tool's commands are ASCII, so each
// reading is held to printable text. The two never both fit: printable Latin-1 in UCS-2 has
// every high byte 0, which ASCII text has only at its end (one character reads the same either
// way), and two printable ASCII bytes make a UCS-2 character far above Latin-1. Binary data fits
// neither: a random 16-bit unit is printable Latin-1 once in about 340.
enum class OptionText : uint8_t { Ucs2, Ascii, Neither };

uint32_t Ucs2Unit(const uint8_t *bytes, UINTN i) {
  return bytes[2 * i] | static_cast<uint32_t>(bytes[2 * i + 1]) << 8;
}

// UCS-2 up to its first NUL, which ends it (the rest is not read); without one, an even size.
bool FitsUcs2(const uint8_t *bytes, UINTN size) {
  for (UINTN i = 0; i < size / 2; ++i) {
    const uint32_t c = Ucs2Unit(bytes, i);
    if (c == 0)
      return true;
    if (!CommandLineChar(c))
      return false;
  }
  return size % 2 == 0;
}

// Printable ASCII bytes, then nothing but NULs.
bool FitsAscii(const uint8_t *bytes, UINTN size) {
  UINTN i = 0;
  for (; i < size && bytes[i] != 0; ++i)
    if (bytes[i] >= 0x80 || !CommandLineChar(bytes[i]))
      return false;
  for (; i < size; ++i)
    if (bytes[i] != 0)
      return false;
  return true;
}

OptionText ClassifyOptions(const uint8_t *bytes, UINTN size) {
  if (FitsUcs2(bytes, size))
    return OptionText::Ucs2;
  return FitsAscii(bytes, size) ? OptionText::Ascii : OptionText::Neither;
}

// Splits the loaded image's option string (UCS-2 or ASCII, space separated) into words. A boot
// manager passes only the options, a shell-like launcher the program name first: the first word
// is taken as the name only when it names an .efi file, else `programName` stands in front of
// every word. Options that are no text give no words.
UINTN SplitLoadOptions(EFI_LOADED_IMAGE_PROTOCOL *image, const CHAR16 *programName) {
  if (!image)
    return 0;
  const auto *bytes = static_cast<const uint8_t *>(image->LoadOptions);
  const UINTN size = bytes ? image->LoadOptionsSize : 0;
  const OptionText form = ClassifyOptions(bytes, size);
  if (form == OptionText::Neither) {
    gOrigin = ArgumentOrigin::LoadOptionsRefused;
    return 0;
  }
  const bool wide = form == OptionText::Ucs2;
  UINTN chars = wide ? size / 2 : size;
  if (chars > kArgumentTextBytes - 1) {
    chars = kArgumentTextBytes - 1;
    gArgumentsCut = true;
  }
  gOptionVector[0] = programName;
  UINTN count = 1;
  bool inWord = false;
  UINTN i = 0;
  for (; i < chars; ++i) {
    const auto c = static_cast<CHAR16>(wide ? Ucs2Unit(bytes, i) : bytes[i]);
    if (c == 0)
      break;
    bool separator = c == u' ' || c == u'\t';
    gOptionText[i] = separator ? 0 : c;
    if (!separator && !inWord) {
      if (count < kMaxArguments)
        gOptionVector[count++] = &gOptionText[i];
      else
        gArgumentsCut = true;
    }
    inWord = !separator;
  }
  gOptionText[i] = 0;
  if (count >= 2 && NamesEfiFile(gOptionVector[1])) {
    for (UINTN k = 1; k < count; ++k)
      gOptionVector[k - 1] = gOptionVector[k];
    --count;
  }
  return count;
}

} // namespace

int ConvertArguments(const CHAR16 *const *argv, UINTN argc, char ***out) {
  int kept = 0;
  gArgumentsCut = false;
  if (argv) {
    if (argc > static_cast<UINTN>(kMaxArguments))
      gArgumentsCut = true;
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
        if (!PutUtf8(c, pos, textEnd)) {
          gArgumentsCut = true;
          break;
        }
      }
      gArgumentText[pos++] = 0;
    }
  }
  gArgumentVector[kept] = nullptr;
  *out = gArgumentVector;
  return kept;
}

bool ArgumentsWereCut() {
  return gArgumentsCut;
}

ArgumentOrigin ArgumentsOrigin() {
  return gOrigin;
}

int GetShellArguments(EFI_HANDLE image, const CHAR16 *programName, char ***argv) {
  const CHAR16 *const *wideArgv = nullptr;
  UINTN wideArgc = 0;
  bool optionsCut = false;
  void *iface = nullptr;
  gOrigin = ArgumentOrigin::None;
  if (HandleProtocol(image, kShellParametersProtocolGuid, &iface) == EFI_SUCCESS && iface) {
    auto *params = static_cast<EFI_SHELL_PARAMETERS_PROTOCOL *>(iface);
    wideArgv = params->Argv;
    wideArgc = params->Argc;
    gOrigin = ArgumentOrigin::Shell;
  } else if (HandleProtocol(image, kShellInterfaceGuid, &iface) == EFI_SUCCESS && iface) {
    auto *shell = static_cast<EFI_SHELL_INTERFACE *>(iface);
    wideArgv = shell->Argv;
    wideArgc = shell->Argc;
    gOrigin = ArgumentOrigin::Shell;
  } else if (HandleProtocol(image, kLoadedImageProtocolGuid, &iface) == EFI_SUCCESS) {
    gArgumentsCut = false;
    if (iface)
      gOrigin = ArgumentOrigin::LoadOptions;
    wideArgc = SplitLoadOptions(static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(iface), programName);
    wideArgv = gOptionVector;
    optionsCut = gArgumentsCut;
  }

  int argc = ConvertArguments(wideArgv, wideArgc, argv);
  gArgumentsCut = gArgumentsCut || optionsCut;
  return argc;
}

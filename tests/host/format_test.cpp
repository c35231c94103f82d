// The formatter behind Print: directives, line ends, status names and the 320-character cap.
#include <gtest/gtest.h>

#include <stdarg.h>

#include <string>

#include "console/format.h"

namespace {

// Characters after the formatter's buffer that it must never touch.
constexpr UINTN kGuardChars = 64;
constexpr CHAR16 kGuard = 0xA5A5;

std::u16string Format(const CHAR16 *format, ...) {
  CHAR16 buffer[kPrintMaxChars + 1 + kGuardChars];
  for (CHAR16 &c : buffer)
    c = kGuard;
  va_list args;
  va_start(args, format);
  UINTN length = FormatMessage(buffer, format, args);
  va_end(args);

  EXPECT_LE(length, kPrintMaxChars);
  if (length > kPrintMaxChars)
    return {};
  EXPECT_EQ(buffer[length], 0) << "missing NUL after " << length << " characters";
  EXPECT_EQ(std::char_traits<char16_t>::length(buffer), length) << "NUL inside the message";
  for (UINTN i = kPrintMaxChars + 1; i < sizeof(buffer) / sizeof(buffer[0]); ++i)
    EXPECT_EQ(buffer[i], kGuard) << "written past the buffer at " << i;
  return std::u16string(buffer, length);
}

struct Case {
  std::u16string got;
  std::u16string want;
};

void ExpectAll(std::initializer_list<Case> cases) {
  int index = 0;
  for (const Case &c : cases) {
    EXPECT_EQ(c.got, c.want) << "case " << index;
    ++index;
  }
}

TEST(FormatMessage, NumericDirectives) {
  ExpectAll({
      {Format(u"%d", 0), u"0"},
      {Format(u"%d", 57), u"57"},
      {Format(u"%d", 2147483647), u"2147483647"},
      {Format(u"%02d", 7), u"07"},
      {Format(u"%02d", 0), u"00"},
      {Format(u"%02d", 123), u"123"},
      {Format(u"[ %02d.%02d.%02d ]", 2, 6, 255), u"[ 02.06.255 ]"},
      {Format(u"%04X", 0x1605), u"1605"},
      {Format(u"%04X", 0), u"0000"},
      {Format(u"%04X", 0xAB), u"00AB"},
      {Format(u"%04X", 0xFEDCBA98u), u"FEDCBA98"},
      {Format(u"%d%%", 100), u"100%"},
  });
}

TEST(FormatMessage, PercentSignTakesNoArgument) {
  ExpectAll({
      {Format(u"%%"), u"%"},
      {Format(u"%d %%", 57), u"57 %"},
      {Format(u"%%d %d", 5), u"%d 5"},
      {Format(u"%%%d%%", 9), u"%9%"},
  });
}

TEST(FormatMessage, StringArgumentsAreCopiedUnchanged) {
  ExpectAll({
      {Format(u"[%s]", u""), u"[]"},
      {Format(u"%s-%s", u"first", u"second"), u"first-second"},
      {Format(u"<%s>", u"a\nb\rc\n\rd"), u"<a\nb\rc\n\rd>"},
      {Format(u"%s", u"%d %s %%"), u"%d %s %%"},
      {Format(u" KOVA Panelup Utility Version : %s \n", u"[ V1.0.0.42-2022-09-09]"),
       u" KOVA Panelup Utility Version : [ V1.0.0.42-2022-09-09] \r\n"},
  });
}

// The ends of both name tables, and the names the tool's own messages can print: what the
// variable store, the handle search and HandleProtocol give.
TEST(FormatMessage, NamesWarningsAndErrors) {
  ExpectAll({
      {Format(u"%r", EFI_STATUS{0}), u"Success"},
      {Format(u"%r", EFI_STATUS{5}), u"Warning Stale Data"},
      {Format(u"%r", kEfiErrorBit | 1), u"Load Error"},
      {Format(u"%r", kEfiErrorBit | 33), u"Compromised Data"},
      {Format(u"%r", EFI_INVALID_PARAMETER), u"Invalid Parameter"},
      {Format(u"%r", EFI_UNSUPPORTED), u"Unsupported"},
      {Format(u"%r", EFI_DEVICE_ERROR), u"Device Error"},
      {Format(u"%r", EFI_WRITE_PROTECTED), u"Write Protected"},
      {Format(u"%r", EFI_OUT_OF_RESOURCES), u"Out of Resources"},
      {Format(u"%r", EFI_VOLUME_CORRUPTED), u"Volume Corrupt"},
      {Format(u"VTQ_001 %r\n", EFI_NOT_FOUND), u"VTQ_001 Not Found\r\n"},
  });
}

TEST(FormatMessage, UnnamedStatusesPrintEightHexDigits) {
  ExpectAll({
      {Format(u"%r", kEfiErrorBit | 40), u"00000028"},
      {Format(u"%r", kEfiErrorBit | 34), u"00000022"},
      {Format(u"%r", kEfiErrorBit), u"00000000"},
      {Format(u"%r", EFI_STATUS{6}), u"00000006"},
      {Format(u"%r", EFI_STATUS{0xDEADBEEF}), u"DEADBEEF"},
      // Only the low 32 bits print, but the whole value decides whether a name applies.
      {Format(u"%r", kEfiErrorBit | 0x100000001ull), u"00000001"},
      {Format(u"%r", EFI_STATUS{0x100000000ull}), u"00000000"},
      {Format(u"%r %d", kEfiErrorBit | 40, 3), u"00000028 3"},
  });
}

TEST(FormatMessage, LineEndsBecomeCarriageReturnLineFeed) {
  ExpectAll({
      {Format(u"a\nb"), u"a\r\nb"},
      {Format(u"a\n\rb"), u"a\r\nb"},
      {Format(u"a\r\nb"), u"a\r\nb"},
      {Format(u"a\rb"), u"a\rb"},
      {Format(u"a\r\rb"), u"a\r\rb"},
      {Format(u"\n\r\n"), u"\r\n\r\n"},
      {Format(u"\n\n\r example:"), u"\r\n\r\n example:"},
      {Format(u"\n\r        Panelup.efi  /f  2 6  \n\n"),
       u"\r\n        Panelup.efi  /f  2 6  \r\n\r\n"},
      {Format(u"%d\n", 5), u"5\r\n"},
  });
}

TEST(FormatMessage, UnknownDirectivesShowAsWrittenAndTakeNoArgument) {
  ExpectAll({
      {Format(u"%q"), u"%q"},
      {Format(u"%5q"), u"%5q"},
      {Format(u"%q %d", 7), u"%q 7"},
  });
}

TEST(FormatMessage, TrailingPercentEndsTheMessage) {
  // The formatter must stop at the NUL, not read what lies after it.
  const CHAR16 afterNul[] = u"ab%\0%d";
  const CHAR16 widthAtEnd[] = u"ab%05\0%d";
  ExpectAll({
      {Format(u"50%"), u"50"},
      {Format(afterNul, 1), u"ab"},
      {Format(widthAtEnd, 1), u"ab"},
  });
}

TEST(FormatMessage, CutsAtThreeHundredTwentyCharacters) {
  const std::u16string cap(kPrintMaxChars, u'a');
  const std::u16string longText(400, u'a');
  EXPECT_EQ(Format(longText.c_str()), cap);
  EXPECT_EQ(Format((longText + u"%d").c_str(), 1), cap);

  // A number that straddles the limit keeps only the digits that fit.
  const std::u16string almost(kPrintMaxChars - 2, u'a');
  EXPECT_EQ(Format((almost + u"%d").c_str(), 12345), almost + u"12");

  // Each CR LF counts two; a pair cut by the limit keeps only its CR.
  std::u16string feeds = u"x";
  std::u16string feedsOut = u"x";
  for (int i = 0; i < 200; ++i)
    feeds += u"\n";
  for (int i = 0; i < 159; ++i)
    feedsOut += u"\r\n";
  EXPECT_EQ(Format(feeds.c_str()), feedsOut + u"\r");
  EXPECT_EQ(Format(feeds.c_str() + 1), feedsOut.substr(1) + u"\r\n");
}

TEST(FormatMessage, LongArgumentsStayInsideTheBuffer) {
  const std::u16string thousand(1000, u'z');
  EXPECT_EQ(Format(u"%s", thousand.c_str()), std::u16string(kPrintMaxChars, u'z'));
  EXPECT_EQ(Format(u"ab%s", thousand.c_str()), u"ab" + std::u16string(kPrintMaxChars - 2, u'z'));

  const std::u16string zeros(kPrintMaxChars, u'0');
  const std::u16string spaces(kPrintMaxChars, u' ');
  ExpectAll({
      {Format(u"%0999d", 5), zeros},
      {Format(u"%999d", 5), spaces},
      {Format(u"%0999X", 0x1605), zeros},
      {Format(u"%99999999999999999999d", 7), spaces},
      {Format(u"%0320d", 42), std::u16string(kPrintMaxChars - 2, u'0') + u"42"},
  });
}

} // namespace

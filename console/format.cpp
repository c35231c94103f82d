#include "console/format.h"

#include "console/status_names.h"

namespace {

struct Output {
  CHAR16 *buffer;
  UINTN length;

  bool Full() const { return length >= kPrintMaxChars; }
  void Put(CHAR16 c) {
    if (!Full())
      buffer[length++] = c;
  }
  void PutString(const CHAR16 *s) {
    for (; *s && !Full(); ++s)
      Put(*s);
  }
};

// Unsigned value in `base`, at least `width` digits wide, padded with `pad`.
void PutNumber(Output &out, uint64_t value, unsigned base, UINTN width, CHAR16 pad, bool negative) {
  CHAR16 digits[24];
  UINTN n = 0;
  do {
    unsigned d = static_cast<unsigned>(value % base);
    digits[n++] = static_cast<CHAR16>(d < 10 ? u'0' + d : u'A' + d - 10);
    value /= base;
  } while (value != 0);
  UINTN used = n + (negative ? 1 : 0);
  if (negative && pad == u'0')
    out.Put(u'-');
  for (; used < width; ++used)
    out.Put(pad);
  if (negative && pad != u'0')
    out.Put(u'-');
  while (n > 0)
    out.Put(digits[--n]);
}

} // namespace

UINTN FormatMessage(CHAR16 *buffer, const CHAR16 *format, va_list args) {
  Output out{buffer, 0};
  const CHAR16 *p = format;
  while (p && *p && !out.Full()) {
    CHAR16 c = *p++;
    if (c == u'\n' || c == u'\r') {
      // Line ends: \n, \n\r and \r\n each give one CR LF; a lone \r gives CR.
      if ((c == u'\n' && *p == u'\r') || (c == u'\r' && *p == u'\n'))
        ++p;
      else if (c == u'\r') {
        out.Put(u'\r');
        continue;
      }
      out.Put(u'\r');
      out.Put(u'\n');
      continue;
    }
    if (c != u'%') {
      out.Put(c);
      continue;
    }
    const CHAR16 *directive = p - 1;
    CHAR16 pad = u' ';
    if (*p == u'0') {
      pad = u'0';
      ++p;
    }
    UINTN width = 0;
    while (*p >= u'0' && *p <= u'9') {
      if (width < 1000)
        width = width * 10 + (*p - u'0');
      ++p;
    }
    CHAR16 kind = *p;
    if (kind == 0)
      break;
    ++p;
    switch (kind) {
    case u'd': {
      int32_t v = va_arg(args, int32_t);
      bool negative = v < 0;
      uint64_t magnitude = negative ? 0ull - static_cast<uint64_t>(static_cast<int64_t>(v))
                                    : static_cast<uint64_t>(v);
      PutNumber(out, magnitude, 10, width, pad, negative);
      break;
    }
    case u'u':
      PutNumber(out, va_arg(args, uint32_t), 10, width, pad, false);
      break;
    case u'X':
    case u'x':
      PutNumber(out, va_arg(args, uint32_t), 16, width, pad, false);
      break;
    case u's': {
      const CHAR16 *s = va_arg(args, const CHAR16 *);
      out.PutString(s ? s : u"(null)");
      break;
    }
    case u'r': {
      EFI_STATUS status = va_arg(args, EFI_STATUS);
      const CHAR16 *name = StatusName(status);
      if (name)
        out.PutString(name);
      else
        PutNumber(out, status & 0xFFFFFFFFu, 16, 8, u'0', false);
      break;
    }
    case u'%':
      out.Put(u'%');
      break;
    default:
      // Not a directive we know: show it as written.
      for (const CHAR16 *q = directive; q < p; ++q)
        out.Put(*q);
      break;
    }
  }
  buffer[out.length] = 0;
  return out.length;
}

#include "sim/host/text.h"

#include <cstdint>

namespace sim {

std::u16string Utf8ToUcs2(const std::string &text) {
  std::u16string out;
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const unsigned char *end = p + text.size();
  while (p < end) {
    uint32_t c = *p++;
    int more = 0;
    uint32_t min = 0;
    if (c >= 0xF0 && c <= 0xF4) {
      more = 3, c &= 0x07, min = 0x10000;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2, c &= 0x0F, min = 0x800;
    } else if (c >= 0xC2 && c <= 0xDF) {
      more = 1, c &= 0x1F, min = 0x80;
    } else if (c >= 0x80) {
      out += u'\uFFFD';
      continue;
    }
    bool ok = true;
    for (int i = 0; i < more; ++i) {
      if (p >= end || (*p & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (*p++ & 0x3F);
    }
    if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += u'\uFFFD';
    } else if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Narrow(const std::u16string &text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text)
    out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

} // namespace sim

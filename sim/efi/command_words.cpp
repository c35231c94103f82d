#include "sim/efi/command_words.h"

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return 99;
}

// Whole-string number in `base` (hex may carry a 0x prefix) no greater than `max`.
bool ParseNumber(const char *s, unsigned base, uint64_t max, uint64_t *out) {
  if (base == 16 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
    s += 2;
  if (*s == 0)
    return false;
  uint64_t value = 0;
  for (; *s; ++s) {
    int d = DigitValue(*s);
    if (d >= static_cast<int>(base))
      return false;
    value = value * base + static_cast<unsigned>(d);
    if (value > max)
      return false;
  }
  *out = value;
  return true;
}

} // namespace

bool Equal(const char *a, const char *b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

bool ParseHex(const char *s, uint64_t max, uint64_t *out) {
  return ParseNumber(s, 16, max, out);
}

bool ParseDecimal(const char *s, uint64_t max, uint64_t *out) {
  return ParseNumber(s, 10, max, out);
}

// A cursor over text that another program wrote, for the readers of the shared formats: every
// step checks the end first, so no input reads past its bytes. Freestanding, like all of formats/.
#pragma once

#include <stdint.h>

struct Scan {
  const char *at;
  const char *end;

  bool AtEnd() const { return at == end; }
  // Takes `word` off the front.
  bool Take(const char *word) {
    const char *p = at;
    for (; *word != 0; ++word, ++p)
      if (p == end || *p != *word)
        return false;
    at = p;
    return true;
  }
  // Takes 1 to `maxDigits` decimal digits (leading zeros allowed, never octal) and no more.
  bool Decimal(uint32_t maxDigits, uint32_t *value) {
    uint32_t n = 0;
    uint64_t v = 0;
    while (at + n != end && at[n] >= '0' && at[n] <= '9') {
      if (++n > maxDigits || n > 10)
        return false;
      v = v * 10 + static_cast<uint64_t>(at[n - 1] - '0');
    }
    if (n == 0 || v > 0xFFFFFFFFu)
      return false;
    at += n;
    *value = static_cast<uint32_t>(v);
    return true;
  }
  // Exactly `digits` decimal digits.
  bool Fixed(uint32_t digits, uint32_t *value) {
    const char *start = at;
    return Decimal(digits, value) && at - start == static_cast<int32_t>(digits);
  }
  // A decimal number from 0 to 255 of up to three digits.
  bool Byte(uint8_t *value) {
    uint32_t v = 0;
    if (!Decimal(3, &v) || v > 255)
      return false;
    *value = static_cast<uint8_t>(v);
    return true;
  }
};

inline Scan ScanOf(const char *text, uint32_t size) {
  return Scan{text, text + size};
}

// Text written into a fixed buffer, cut at its end (the writers size their buffers so nothing is
// cut; the tests check that).
struct Out {
  char *text;
  uint32_t room;
  uint32_t length;

  void Add(const char *s) {
    for (; *s != 0 && length < room; ++s)
      text[length++] = *s;
  }
  // Decimal, at least `digits` digits (zero-filled), as %02d prints a version.
  void Number(int64_t value, uint32_t digits = 1) {
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) {
      Add("-");
      magnitude = 0 - magnitude;
    }
    char reversed[20];
    uint32_t n = 0;
    do {
      reversed[n++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0 || n < digits);
    while (n > 0 && length < room)
      text[length++] = reversed[--n];
  }
};

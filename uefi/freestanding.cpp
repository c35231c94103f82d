// The few routines the compiler may call on its own in a build without a C library.
#include <stddef.h>

extern "C" {

void *memset(void *dest, int value, size_t count) {
  auto *d = static_cast<unsigned char *>(dest);
  while (count--)
    *d++ = static_cast<unsigned char>(value);
  return dest;
}

void *memcpy(void *dest, const void *src, size_t count) {
  auto *d = static_cast<unsigned char *>(dest);
  const auto *s = static_cast<const unsigned char *>(src);
  while (count--)
    *d++ = *s++;
  return dest;
}

void *memmove(void *dest, const void *src, size_t count) {
  auto *d = static_cast<unsigned char *>(dest);
  const auto *s = static_cast<const unsigned char *>(src);
  if (d < s) {
    while (count--)
      *d++ = *s++;
  } else {
    while (count--)
      d[count] = s[count];
  }
  return dest;
}

int memcmp(const void *a, const void *b, size_t count) {
  const auto *x = static_cast<const unsigned char *>(a);
  const auto *y = static_cast<const unsigned char *>(b);
  for (size_t i = 0; i < count; ++i)
    if (x[i] != y[i])
      return x[i] < y[i] ? -1 : 1;
  return 0;
}

// Marks the image as using no floating point; the linker asks for it on this target.
int _fltused = 0;
}

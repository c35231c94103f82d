// Fuzzes the formatter behind Print with arbitrary formats, strings and numbers: it must never
// write past its 321-character buffer, must end the message with a NUL at the length it returns,
// and must keep NULs out of the message itself.
//
// Input: the format as UCS-2 (little endian) up to a 0x0000 unit, then the arguments' bytes, taken
// in the order of the format's directives: %d %u %x %X four bytes, %r eight, %s one length byte
// (0xFF: a null pointer) and that many UCS-2 units.
//
// Each argument is passed with the type its directive reads, as a caller must: the format is
// parsed here the way the formatter parses it, and the call is built with a pack of those types.
// That bounds the directives per call; the format is cut before the first one past the bound.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "console/format.h"

namespace {

constexpr size_t kMaxDirectives = 5;
constexpr size_t kGuardChars = 32;
constexpr CHAR16 kGuard = 0xA5C3;

enum class Kind { Int, Unsigned, String, Status };

struct Argument {
  Kind kind;
  int32_t i = 0;
  uint32_t u = 0;
  const CHAR16 *s = nullptr;
  EFI_STATUS r = 0;
};

[[noreturn]] void Fail(const char *what, long long value) {
  std::fprintf(stderr, "invariant broken: %s (%lld)\n", what, value);
  std::abort();
}

// The directive at `p` (just after its '%'): its kind if it reads an argument, and where it ends.
bool ReadsArgument(const CHAR16 *&p, Kind &kind) {
  if (*p == u'0')
    ++p;
  while (*p >= u'0' && *p <= u'9')
    ++p;
  CHAR16 c = *p;
  if (c == 0)
    return false;
  ++p;
  switch (c) {
  case u'd':
    kind = Kind::Int;
    return true;
  case u'u':
  case u'x':
  case u'X':
    kind = Kind::Unsigned;
    return true;
  case u's':
    kind = Kind::String;
    return true;
  case u'r':
    kind = Kind::Status;
    return true;
  default:
    return false;
  }
}

class Bytes {
public:
  Bytes(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint64_t Number(int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
      v |= static_cast<uint64_t>(Byte()) << (8 * i);
    return v;
  }
  size_t Left() const { return size_ - pos_; }

private:
  const uint8_t *data_;
  size_t size_;
  size_t pos_ = 0;
};

UINTN CallFormatter(CHAR16 *out, const CHAR16 *format, ...) {
  va_list args;
  va_start(args, format);
  UINTN n = FormatMessage(out, format, args);
  va_end(args);
  return n;
}

// Appends the next argument to the pack with its own type, then recurses.
template <size_t Depth, typename... Passed>
UINTN Invoke(CHAR16 *out, const CHAR16 *format, const Argument *args, size_t count,
             Passed... passed) {
  if constexpr (Depth == kMaxDirectives) {
    return CallFormatter(out, format, passed...);
  } else {
    if (count == 0)
      return CallFormatter(out, format, passed...);
    const Argument &a = *args;
    switch (a.kind) {
    case Kind::Int:
      return Invoke<Depth + 1>(out, format, args + 1, count - 1, passed..., a.i);
    case Kind::Unsigned:
      return Invoke<Depth + 1>(out, format, args + 1, count - 1, passed..., a.u);
    case Kind::String:
      return Invoke<Depth + 1>(out, format, args + 1, count - 1, passed..., a.s);
    case Kind::Status:
      return Invoke<Depth + 1>(out, format, args + 1, count - 1, passed..., a.r);
    }
    Fail("unknown argument kind", static_cast<long long>(a.kind));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // The format, in storage of exactly its length so a read past its NUL is caught.
  size_t units = 0;
  while (2 * units + 1 < size && (data[2 * units] | data[2 * units + 1]) != 0)
    ++units;
  std::vector<CHAR16> text(units + 1, 0);
  for (size_t i = 0; i < units; ++i)
    text[i] = static_cast<CHAR16>(data[2 * i] | (data[2 * i + 1] << 8));
  size_t consumed = 2 * units + 2 <= size ? 2 * units + 2 : size;
  Bytes pool(data + consumed, size - consumed);

  std::vector<Argument> args;
  std::vector<std::unique_ptr<CHAR16[]>> strings;
  size_t formatLength = units;
  for (const CHAR16 *p = text.data(); *p;) {
    const CHAR16 *directive = p;
    Kind kind = Kind::Int;
    if (*p++ != u'%' || !ReadsArgument(p, kind))
      continue;
    if (args.size() == kMaxDirectives) {
      formatLength = static_cast<size_t>(directive - text.data());
      break;
    }
    Argument a{kind};
    switch (kind) {
    case Kind::Int:
      a.i = static_cast<int32_t>(pool.Number(4));
      break;
    case Kind::Unsigned:
      a.u = static_cast<uint32_t>(pool.Number(4));
      break;
    case Kind::Status:
      a.r = pool.Number(8);
      break;
    case Kind::String: {
      uint8_t length = pool.Byte();
      if (length == 0xFF)
        break;
      if (length > pool.Left() / 2)
        length = static_cast<uint8_t>(pool.Left() / 2);
      strings.emplace_back(new CHAR16[length + 1]);
      for (size_t i = 0; i < length; ++i)
        strings.back()[i] = static_cast<CHAR16>(pool.Number(2));
      strings.back()[length] = 0;
      a.s = strings.back().get();
      break;
    }
    }
    args.push_back(a);
  }

  std::unique_ptr<CHAR16[]> format(new CHAR16[formatLength + 1]);
  std::memcpy(format.get(), text.data(), formatLength * sizeof(CHAR16));
  format[formatLength] = 0;

  CHAR16 buffer[kGuardChars + kPrintMaxChars + 1 + kGuardChars];
  for (CHAR16 &c : buffer)
    c = kGuard;
  CHAR16 *out = buffer + kGuardChars;
  const UINTN n = Invoke<0>(out, size == 0 ? nullptr : format.get(), args.data(), args.size());

  if (n > kPrintMaxChars)
    Fail("length past the buffer", static_cast<long long>(n));
  if (out[n] != 0)
    Fail("no NUL at the returned length", static_cast<long long>(n));
  for (UINTN i = 0; i < n; ++i)
    if (out[i] == 0)
      Fail("NUL inside the message", static_cast<long long>(i));
  for (size_t i = 0; i < kGuardChars; ++i) {
    if (buffer[i] != kGuard)
      Fail("write before the buffer", static_cast<long long>(i));
    if (out[kPrintMaxChars + 1 + i] != kGuard)
      Fail("write past the buffer", static_cast<long long>(i));
  }
  // Text without directives or line ends comes out as it went in, cut at the buffer's length.
  bool plain = true;
  for (size_t i = 0; i < formatLength; ++i)
    plain = plain && format[i] != u'%' && format[i] != u'\n' && format[i] != u'\r';
  if (plain && size != 0) {
    size_t expected = formatLength < kPrintMaxChars ? formatLength : kPrintMaxChars;
    if (n != expected || std::memcmp(out, format.get(), expected * sizeof(CHAR16)) != 0)
      Fail("plain text changed", static_cast<long long>(n));
  }
  return 0;
}

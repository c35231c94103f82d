#include "formats/build_mark.h"

#include "formats/scan.h"

namespace {

bool Hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

} // namespace

bool ValidBuildId(const char *text, uint32_t size) {
  if (size == 0 || size > kMaxBuildIdChars)
    return false;
  Scan s = ScanOf(text, size);
  uint32_t part = 0;
  if (!s.Decimal(9, &part) || !s.Take(".") || !s.Decimal(9, &part) || !s.Take(".") ||
      !s.Decimal(9, &part) || !s.Take("+"))
    return false;
  if (s.Take("unknown"))
    return s.AtEnd();
  if (!s.Take("g"))
    return false;
  uint32_t digits = 0;
  for (; !s.AtEnd() && Hex(*s.at); ++s.at)
    ++digits;
  if (digits < 7 || digits > 40)
    return false;
  s.Take("-dirty");
  return s.AtEnd();
}

bool FindBuildMark(const uint8_t *bytes, uint64_t size, BuildMark *mark) {
  const char *text = reinterpret_cast<const char *>(bytes);
  const char *end = text + size;
  for (const char *at = text; end - at > static_cast<int64_t>(kBuildIdOffset); ++at) {
    Scan s{at, end};
    if (!s.Take(kBuildMarkPrefix))
      continue;
    const char *id = s.at;
    while (!s.AtEnd() && *s.at > ' ' && *s.at <= '~')
      ++s.at;
    const uint32_t idSize = static_cast<uint32_t>(s.at - id);
    if (!ValidBuildId(id, idSize) || !s.Take(" images="))
      return false;
    bool genuine = s.Take("genuine");
    if (!genuine && !s.Take("test"))
      return false;
    // The word ends there: images=tests is no mark.
    if (!s.AtEnd() && *s.at >= 'a' && *s.at <= 'z')
      return false;
    for (uint32_t i = 0; i < idSize; ++i)
      mark->id[i] = id[i];
    mark->id[idSize] = 0;
    mark->genuine = genuine;
    return true;
  }
  return false;
}

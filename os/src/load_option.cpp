#include "load_option.h"

#include <cstring>

#include "formats/scan.h"

namespace {

uint16_t Le16(const uint8_t *p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t *p) {
  return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16;
}

// UCS-2 units from `p` to a NUL unit or `end`, as text; false without a NUL when `needNul`.
bool Ucs2Text(const uint8_t *p, const uint8_t *end, std::string *text, const uint8_t **after,
              bool needNul) {
  text->clear();
  for (; end - p >= 2; p += 2) {
    const uint16_t unit = Le16(p);
    if (unit == 0) {
      *after = p + 2;
      return true;
    }
    text->push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  *after = p;
  return !needNul;
}

constexpr uint8_t kMediaType = 4;
constexpr uint8_t kHardDrive = 1;
constexpr uint8_t kFilePath = 4;
constexpr uint8_t kEndType = 0x7f;

bool SameFile(const std::string &a, const char *b) {
  if (a.size() != std::strlen(b))
    return false;
  // FAT names are case-blind.
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i]))
      return false;
  return true;
}

// "/f C P" (the tool's operands: decimal 0 to 255) from the optional data's text.
std::optional<std::array<uint8_t, 2>> PairOf(const std::string &text) {
  Scan s = ScanOf(text.data(), static_cast<uint32_t>(text.size()));
  uint8_t cid = 0;
  uint8_t pid = 0;
  if (!s.Take("/f ") || !s.Byte(&cid) || !s.Take(" ") || !s.Byte(&pid) || !s.AtEnd())
    return std::nullopt;
  return std::array<uint8_t, 2>{cid, pid};
}

} // namespace

bool ParseLoadOption(std::span<const uint8_t> value, LoadOption *option) {
  *option = LoadOption{};
  if (value.size() < 6)
    return false;
  const uint8_t *p = value.data();
  const uint8_t *end = p + value.size();
  const uint16_t pathBytes = Le16(p + 4);
  const uint8_t *at = p + 6;
  if (!Ucs2Text(at, end, &option->label, &at, true) || end - at < pathBytes)
    return false;
  const uint8_t *pathEnd = at + pathBytes;
  // Only the first instance counts: the firmware boots from it.
  for (const uint8_t *node = at; pathEnd - node >= 4;) {
    const uint8_t type = node[0];
    const uint8_t subtype = node[1];
    const uint16_t length = Le16(node + 2);
    if (length < 4 || length > pathEnd - node)
      return false;
    if (type == kEndType)
      break;
    if (type == kMediaType && subtype == kHardDrive && length >= 42) {
      PartitionSignature signature{};
      std::memcpy(signature.data(), node + 24, signature.size());
      option->partition = signature;
      option->partitionNumber = Le32(node + 4);
      option->file.clear();
    } else if (type == kMediaType && subtype == kFilePath && option->partition) {
      const uint8_t *ignored = nullptr;
      std::string part;
      Ucs2Text(node + 4, node + length, &part, &ignored, false);
      option->file += part;
    }
    node += length;
  }
  std::string data;
  const uint8_t *ignored = nullptr;
  Ucs2Text(pathEnd, end, &data, &ignored, false);
  option->pair = PairOf(data);
  return true;
}

bool StartsOurImage(const LoadOption &option, const PartitionSignature &signature) {
  return option.partition && *option.partition == signature && SameFile(option.file, kStagedPath);
}

std::string FlashArguments(uint8_t cid, uint8_t pid) {
  const std::string text = "/f " + std::to_string(cid) + " " + std::to_string(pid);
  std::string ucs2;
  for (char c : text) {
    ucs2.push_back(c);
    ucs2.push_back('\0');
  }
  return ucs2;
}

#include "image.h"

#include <cstdio>

namespace {

uint32_t Le(std::span<const uint8_t> f, uint64_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = v << 8 | f[at + static_cast<uint64_t>(i)];
  return v;
}

std::string Hex4(uint32_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", v);
  return text;
}

constexpr uint32_t kMachineX64 = 0x8664;
constexpr uint32_t kMagicPe32Plus = 0x20b;
constexpr uint32_t kSubsystemEfiApplication = 10;
constexpr uint64_t kSectionHeaderBytes = 40;
// PE32+ optional header: where its fields lie.
constexpr uint64_t kSizeOfHeaders = 60;
constexpr uint64_t kSubsystem = 68;
constexpr uint64_t kDirectoryCount = 108;
constexpr uint64_t kDirectories = 112;
constexpr uint64_t kCertificateDirectory = 4;

ImageCheck Bad(std::string why) {
  return ImageCheck{false, std::move(why), false};
}

} // namespace

ImageCheck CheckImage(std::span<const uint8_t> f) {
  const uint64_t size = f.size();
  if (size < 64 || f[0] != 'M' || f[1] != 'Z')
    return Bad("it does not start with an MZ header");
  const uint64_t pe = Le(f, 0x3c, 4);
  if (pe + 24 > size || Le(f, pe, 4) != 0x00004550)
    return Bad("it has no PE header where its MZ header points");
  const uint32_t machine = Le(f, pe + 4, 2);
  const uint64_t sections = Le(f, pe + 6, 2);
  const uint64_t optSize = Le(f, pe + 20, 2);
  const uint64_t opt = pe + 24;
  if (opt + 2 > size)
    return Bad("its optional header is cut short");
  const uint32_t magic = Le(f, opt, 2);
  if (magic != kMagicPe32Plus)
    return Bad("its optional header is not PE32+ (magic " + Hex4(magic) + ")");
  if (optSize < kDirectories || opt + optSize > size)
    return Bad("its optional header is cut short");
  if (machine != kMachineX64)
    return Bad("it is built for machine " + Hex4(machine) + ", not x86-64");
  const uint32_t subsystem = Le(f, opt + kSubsystem, 2);
  if (subsystem != kSubsystemEfiApplication)
    return Bad("its subsystem is " + std::to_string(subsystem) + ", not an EFI application (10)");
  const uint64_t table = opt + optSize;
  if (sections == 0 || table + sections * kSectionHeaderBytes > size)
    return Bad("its section table is missing or cut short");
  if (Le(f, opt + kSizeOfHeaders, 4) > size)
    return Bad("its headers run past the end of the file");
  for (uint64_t i = 0; i < sections; ++i) {
    const uint64_t header = table + i * kSectionHeaderBytes;
    const uint64_t rawSize = Le(f, header + 16, 4);
    const uint64_t rawAt = Le(f, header + 20, 4);
    if (rawSize != 0 && rawAt + rawSize > size)
      return Bad("section " + std::to_string(i + 1) + " lies past the end of the file (" +
                 std::to_string(size) + " bytes): it is cut short");
  }
  ImageCheck check{true, "", false};
  const uint64_t count = Le(f, opt + kDirectoryCount, 4);
  if (count <= kCertificateDirectory)
    return check;
  const uint64_t entry = opt + kDirectories + kCertificateDirectory * 8;
  if (entry + 8 > opt + optSize)
    return Bad("its data directories run past its optional header");
  const uint64_t certAt = Le(f, entry, 4);
  const uint64_t certSize = Le(f, entry + 4, 4);
  if (certSize == 0)
    return check;
  if (certAt < opt + optSize || certAt + certSize > size)
    return Bad("its certificate table lies outside the file");
  check.signedImage = true;
  return check;
}

std::optional<BuildMark> ReadBuildMark(std::span<const uint8_t> file) {
  BuildMark mark{};
  if (!FindBuildMark(file.data(), file.size(), &mark))
    return std::nullopt;
  return mark;
}

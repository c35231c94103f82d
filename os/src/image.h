// What an image file is, before anything is staged: a UEFI application the firmware of this
// machine can start (PE32+, x86-64, the EFI application subsystem, every section inside the
// file), whether it carries a signature, and its build mark.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "formats/build_mark.h"

struct ImageCheck {
  bool loadable = false;
  std::string why; // when not loadable: what is wrong, as a clause
  bool signedImage = false;
};

ImageCheck CheckImage(std::span<const uint8_t> file);

std::optional<BuildMark> ReadBuildMark(std::span<const uint8_t> file);

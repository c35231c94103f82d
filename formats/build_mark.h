// The build mark: what a Panelup.efi is, one ASCII line in the image, where `strings` and
// panelupctl find it:
//   panelup-build/1 id=1.0.0+g0123456789ab images=genuine
// (`+unknown` for a tree outside git, `-dirty` after the commit for uncommitted changes,
// `images=test` when test patterns stand in for missing images). The result record carries the
// id.
#pragma once

#include <stdint.h>

inline constexpr char kBuildMarkPrefix[] = "panelup-build/1 id=";
// The mark's id= value starts here and runs to the next blank, at most kMaxBuildIdChars
// characters (the result record has room for them).
constexpr uint32_t kBuildIdOffset = sizeof(kBuildMarkPrefix) - 1;
constexpr uint32_t kMaxBuildIdChars = 40;

// An id as the build writes it: N.N.N+gHEX (7 to 40 hex digits, -dirty after it) or N.N.N+unknown,
// at most kMaxBuildIdChars.
bool ValidBuildId(const char *text, uint32_t size);

struct BuildMark {
  char id[kMaxBuildIdChars + 1]; // NUL-ended
  bool genuine;                  // images=genuine, else images=test
};

// The first mark in an image's bytes; false when there is none in this form.
bool FindBuildMark(const uint8_t *bytes, uint64_t size, BuildMark *mark);

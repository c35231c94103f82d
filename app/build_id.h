// What this build is: its version, the commit it was built from and whether its images are all
// genuine. Panelup.efi carries it as one ASCII line, where `strings` and panelupctl find it:
//   panelup-build/1 id=1.0.0+g0123456789ab images=genuine
// (`+unknown` for a tree outside git, `-dirty` after the commit for uncommitted changes,
// `images=test` when test patterns stand in for missing images).
#pragma once

#include <stdint.h>

#include "formats/build_mark.h"

extern "C" const char kPanelupBuildMark[];

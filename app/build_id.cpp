#include "app/build_id.h"

#include "panelup_build_id.h"
#include "catalogue_images.h"

namespace {

constexpr bool SameText(const char *a, const char *b) {
  for (; *a != 0 && *a == *b; ++a, ++b) {
  }
  return *a == *b;
}

// The verdict the build wrote must be the one the embedded images give.
static_assert(SameText(PANELUP_IMAGES, kAllImagesGenuine ? "genuine" : "test"));

} // namespace

// Kept in the image by the linker (/include), though nothing in the tool reads it.
extern "C" const char kPanelupBuildMark[] =
    "panelup-build/1 id=" PANELUP_BUILD_ID " images=" PANELUP_IMAGES;

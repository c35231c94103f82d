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

constexpr bool HasBlank(const char *text) {
  for (; *text != 0; ++text)
    if (*text == ' ')
      return true;
  return false;
}

// Whether `text` starts with `head`.
constexpr bool StartsWith(const char *text, const char *head) {
  for (; *head != 0; ++text, ++head)
    if (*text != *head)
      return false;
  return true;
}

} // namespace

// Kept in the image by the linker (/include), where `strings` finds it whole; the result record
// reads its id.
extern "C" constexpr char kPanelupBuildMark[] =
    "panelup-build/1 id=" PANELUP_BUILD_ID " images=" PANELUP_IMAGES;

// The mark is the shared format's (formats/build_mark.h); the result record copies the id from
// kBuildIdOffset on, to a blank or kMaxBuildIdChars.
static_assert(StartsWith(kPanelupBuildMark, kBuildMarkPrefix));
static_assert(StartsWith(kPanelupBuildMark + kBuildIdOffset, PANELUP_BUILD_ID " "));
static_assert(sizeof(PANELUP_BUILD_ID) - 1 <= kMaxBuildIdChars && !HasBlank(PANELUP_BUILD_ID));

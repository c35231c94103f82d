// panelupctl's check of an image before it stages it (os/src/image.h): only what this machine's
// firmware starts passes. The images are made here, one field changed from a good one each.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image.h"

namespace {

constexpr size_t kPe = 0x40;
constexpr size_t kOpt = kPe + 24;
constexpr size_t kOptSize = 240;
constexpr size_t kSection = kOpt + kOptSize;

void Put(std::vector<uint8_t> &f, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i)
    f[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// PE32+, x86-64, an EFI application: headers in 0x200 bytes, one section of 0x200 after them.
std::vector<uint8_t> GoodImage() {
  std::vector<uint8_t> f(0x400);
  f[0] = 'M';
  f[1] = 'Z';
  Put(f, 0x3c, kPe, 4);
  std::memcpy(&f[kPe], "PE\0\0", 4);
  Put(f, kPe + 4, 0x8664, 2);
  Put(f, kPe + 6, 1, 2);
  Put(f, kPe + 20, kOptSize, 2);
  Put(f, kOpt, 0x20b, 2);
  Put(f, kOpt + 60, 0x200, 4); // SizeOfHeaders
  Put(f, kOpt + 68, 10, 2);    // subsystem
  Put(f, kOpt + 108, 16, 4);   // data directories
  Put(f, kSection + 16, 0x200, 4);
  Put(f, kSection + 20, 0x200, 4);
  return f;
}

TEST(ImageCheck, OnlyAnX64EfiApplicationWhoseSectionsAreInTheFile) {
  struct Case {
    const char *what;
    std::vector<uint8_t> image;
    bool loadable;
    const char *why;
  };
  std::vector<Case> cases = {
      {"the good image", GoodImage(), true, ""},
      {"AArch64", GoodImage(), false, "machine 0xaa64"},
      {"i386 (PE32)", GoodImage(), false, "not PE32+"},
      {"a Windows program", GoodImage(), false, "subsystem is 3"},
      {"cut in half", GoodImage(), false, "section 1 lies past the end"},
      {"headers only", GoodImage(), false, "section 1 lies past the end"},
      {"no section table", GoodImage(), false, "section table"},
      {"no PE header", GoodImage(), false, "no PE header"},
  };
  Put(cases[1].image, kPe + 4, 0xaa64, 2);
  Put(cases[2].image, kPe + 4, 0x14c, 2);
  Put(cases[2].image, kOpt, 0x10b, 2);
  Put(cases[3].image, kOpt + 68, 3, 2);
  cases[4].image.resize(0x300);
  cases[5].image.resize(0x200);
  Put(cases[6].image, kPe + 6, 0, 2);
  Put(cases[7].image, 0x3c, 0x3f0, 4);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const ImageCheck check = CheckImage(c.image);
    EXPECT_EQ(check.loadable, c.loadable);
    EXPECT_NE(check.why.find(c.why), std::string::npos) << check.why;
    EXPECT_FALSE(check.signedImage);
  }
}

TEST(ImageCheck, ASignatureInTheFileIsSeenOneOutsideItRefused) {
  std::vector<uint8_t> f = GoodImage();
  f.resize(0x410);
  Put(f, kOpt + 112 + size_t{4} * 8, 0x400, 4);
  Put(f, kOpt + 112 + size_t{4} * 8 + 4, 0x10, 4);
  EXPECT_TRUE(CheckImage(f).signedImage);
  f.resize(0x408);
  EXPECT_FALSE(CheckImage(f).loadable);
}

} // namespace

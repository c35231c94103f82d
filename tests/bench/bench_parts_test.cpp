// The bench's own parts: the floor it holds the tool against, and the PE/COFF reading behind the
// footprint (on small images built here byte by byte).
#include <gtest/gtest.h>

#include <cstring>

#include "tests/bench/floor.h"
#include "tests/bench/pe_image.h"

namespace {

template <typename T> void Put(std::vector<uint8_t> &bytes, size_t at, T value) {
  if (bytes.size() < at + sizeof(T))
    bytes.resize(at + sizeof(T));
  std::memcpy(bytes.data() + at, &value, sizeof(T));
}

void PutName(std::vector<uint8_t> &bytes, size_t at, const char *name) {
  if (bytes.size() < at + 8)
    bytes.resize(at + 8);
  std::memcpy(bytes.data() + at, name, std::strlen(name));
}

// A 40-byte section header.
void PutSection(std::vector<uint8_t> &bytes, size_t at, const char *name, uint32_t virtualSize,
                uint32_t rawSize, uint32_t characteristics) {
  PutName(bytes, at, name);
  Put<uint32_t>(bytes, at + 8, virtualSize);
  Put<uint32_t>(bytes, at + 16, rawSize);
  Put<uint32_t>(bytes, at + 36, characteristics);
}

// An 18-byte symbol record, its name short or at `stringOffset` in the string table.
void PutSymbol(std::vector<uint8_t> &bytes, size_t at, const char *shortName, uint32_t stringOffset,
               uint32_t value, int16_t section, uint16_t type, uint8_t storageClass, uint8_t aux) {
  if (shortName) {
    PutName(bytes, at, shortName);
  } else {
    Put<uint32_t>(bytes, at, 0);
    Put<uint32_t>(bytes, at + 4, stringOffset);
  }
  Put<uint32_t>(bytes, at + 8, value);
  Put<int16_t>(bytes, at + 12, section);
  Put<uint16_t>(bytes, at + 14, type);
  Put<uint8_t>(bytes, at + 16, storageClass);
  Put<uint8_t>(bytes, at + 17, aux);
}

std::vector<uint8_t> SmallPeImage() {
  std::vector<uint8_t> b(0x400, 0);
  Put<uint16_t>(b, 0, 0x5A4D);
  Put<uint32_t>(b, 0x3C, 0x80);
  Put<uint32_t>(b, 0x80, 0x00004550);
  Put<uint16_t>(b, 0x84, 0x8664);      // machine
  Put<uint16_t>(b, 0x86, 3);           // sections
  Put<uint16_t>(b, 0x94, 240);         // optional header size
  Put<uint16_t>(b, 0x98, 0x020B);      // PE32+
  Put<uint32_t>(b, 0x98 + 56, 0x5000); // size of image
  Put<uint32_t>(b, 0x98 + 60, 0x400);  // size of headers
  Put<uint16_t>(b, 0x98 + 68, 10);     // EFI application
  const size_t sections = 0x98 + 240;
  PutSection(b, sections, ".text", 0x1234, 0x1400, 0x60000020);
  PutSection(b, sections + 40, ".data", 0x9000, 0x200, 0xC0000040);
  PutSection(b, sections + 80, ".reloc", 0x10, 0x200, 0x42000040);
  return b;
}

TEST(BenchFloor, CountsTheLongestImageByHand) {
  EXPECT_EQ(PagesFor(17344), 1084u);
  EXPECT_EQ(PagesFor(17381), 1087u);
  // Fixed part: 3 + 2 + 3 + 8 writes, three key-area reads (two saves, the read-back) of 172
  // writes and 286 reads each, erase 10, the firmware and read-back routines' preamble and
  // postamble 10 each, key write 10 + 18 * 26. Per page: 28 + 9 writes; one read per image byte.
  const BusCount total = FloorTotal(17381);
  EXPECT_EQ(total.writes, 1040u + 1087u * 37u);
  EXPECT_EQ(total.reads, 3u + 2u + 2u * 286u + 17381u + 286u);
  EXPECT_EQ(FloorKeyReadBack(), (BusCount{172, 286}));
  EXPECT_EQ(FloorSteps(17381).back().count, FloorKeyReadBack());
}

TEST(BenchPeImage, ReadsTheSectionTable) {
  PeImage image;
  std::string error;
  ASSERT_TRUE(ParsePeImage(SmallPeImage(), image, error)) << error;
  EXPECT_EQ(image.machine, 0x8664);
  EXPECT_EQ(image.subsystem, 10);
  EXPECT_EQ(image.sizeOfImage, 0x5000u);
  EXPECT_EQ(image.sizeOfHeaders, 0x400u);
  ASSERT_EQ(image.sections.size(), 3u);
  EXPECT_EQ(image.sections[0].name, ".text");
  EXPECT_EQ(image.sections[0].virtualSize, 0x1234u);
  EXPECT_EQ(image.sections[0].rawSize, 0x1400u);
  EXPECT_EQ(image.sections[1].name, ".data");
  EXPECT_TRUE(image.sections[1].characteristics & kSectionWritable);
  EXPECT_EQ(image.sections[2].name, ".reloc");
}

TEST(BenchPeImage, RejectsWhatIsNotAWholePe32PlusImage) {
  PeImage image;
  std::string error;
  std::vector<uint8_t> b = SmallPeImage();
  EXPECT_FALSE(ParsePeImage(std::vector<uint8_t>(b.begin(), b.begin() + 0x98 + 240 + 60), image,
                            error)); // section table cut short
  b = SmallPeImage();
  Put<uint16_t>(b, 0x98, 0x010B); // PE32
  EXPECT_FALSE(ParsePeImage(b, image, error));
  b = SmallPeImage();
  Put<uint32_t>(b, 0x3C, 0xFFFFFFF0); // header offset past the end
  EXPECT_FALSE(ParsePeImage(b, image, error));
  EXPECT_FALSE(ParsePeImage({}, image, error));
}

// .text, .bss (0x100 bytes) and .rdata; symbols: the .bss section symbol, two buffers in .bss
// (one with a long mangled name), a function and a constant.
std::vector<uint8_t> SmallObject() {
  std::vector<uint8_t> b(20 + 3 * 40, 0);
  Put<uint16_t>(b, 0, 0x8664);
  Put<uint16_t>(b, 2, 3);
  const uint32_t symbols = 20 + 3 * 40;
  Put<uint32_t>(b, 8, symbols);
  Put<uint32_t>(b, 12, 7);
  PutSection(b, 20, ".text", 0, 0x20, 0x60000020);
  PutSection(b, 60, ".bss", 0, 0x100, 0xC0000080);
  PutSection(b, 100, ".rdata", 0, 0x10, 0x40000040);
  PutSymbol(b, symbols + 0 * 18, ".bss", 0, 0, 2, 0, 3, 1);
  b.resize(symbols + 2 * 18); // the section symbol's auxiliary record
  PutSymbol(b, symbols + 2 * 18, "gSmall", 0, 0x40, 2, 0, 3, 0);
  PutSymbol(b, symbols + 3 * 18, nullptr, 4, 0x80, 2, 0, 2, 0);
  PutSymbol(b, symbols + 4 * 18, "gFirst", 0, 0, 2, 0, 3, 0);
  PutSymbol(b, symbols + 5 * 18, "Run", 0, 0, 1, 0x20, 2, 0);
  PutSymbol(b, symbols + 6 * 18, "kTable", 0, 0, 3, 0, 2, 0);
  const char longName[] = "?ReadBackBuffer@@3PAEA";
  Put<uint32_t>(b, symbols + 7 * 18, 4 + sizeof(longName));
  b.insert(b.end(), longName, longName + sizeof(longName));
  return b;
}

TEST(BenchCoffObject, SizesWritableObjectsUpToTheNextSymbol) {
  std::vector<StaticObject> objects;
  std::string error;
  ASSERT_TRUE(ParseStaticObjects(SmallObject(), objects, error)) << error;
  ASSERT_EQ(objects.size(), 3u);
  EXPECT_EQ(objects[0].name, "gFirst");
  EXPECT_EQ(objects[0].bytes, 0x40u);
  EXPECT_EQ(objects[1].name, "gSmall");
  EXPECT_EQ(objects[1].bytes, 0x40u);
  EXPECT_EQ(objects[2].name, "?ReadBackBuffer@@3PAEA");
  EXPECT_EQ(objects[2].bytes, 0x80u); // to the end of the section
  EXPECT_EQ(objects[2].section, ".bss");
}

TEST(BenchCoffObject, RejectsASymbolTablePastTheEnd) {
  std::vector<uint8_t> b = SmallObject();
  Put<uint32_t>(b, 12, 1000);
  std::vector<StaticObject> objects;
  std::string error;
  EXPECT_FALSE(ParseStaticObjects(b, objects, error));
}

TEST(BenchCoffObject, PlainNamesFromMangledOnes) {
  EXPECT_EQ(PlainSymbolName("?ReadBackBuffer@@3PAEA"), "ReadBackBuffer");
  EXPECT_EQ(PlainSymbolName("?gOptionText@?A0x203AB71E@@3PA_SA"), "gOptionText");
  EXPECT_EQ(PlainSymbolName("?gState@Console@@3UState@@A"), "Console::gState");
  EXPECT_EQ(PlainSymbolName("plain_c_name"), "plain_c_name");
}

} // namespace

// panelupctl's reading of a boot entry: an entry is ours by its device path (our ESP partition,
// then \EFI\Panelup\Panelup.efi), never by its label, and a value cut anywhere is no entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "load_option.h"

namespace {

void Ucs2(std::vector<uint8_t> &v, const std::string &text) {
  for (char c : text) {
    v.push_back(static_cast<uint8_t>(c));
    v.push_back(0);
  }
  v.push_back(0);
  v.push_back(0);
}

// EFI_LOAD_OPTION: attributes, path length, label, HD(GPT) and file nodes, end, optional data.
std::vector<uint8_t> Option(const std::string &label, uint8_t partitionByte,
                            const std::string &file, const std::string &arguments) {
  std::vector<uint8_t> path = {4, 1, 42, 0, 1, 0, 0, 0};
  path.resize(24, 0);
  path.resize(40, partitionByte); // the partition's GUID
  path.push_back(2);              // GPT
  path.push_back(2);              // signature: a GUID
  std::vector<uint8_t> name;
  Ucs2(name, file);
  const uint16_t length = static_cast<uint16_t>(4 + name.size());
  path.insert(path.end(), {4, 4, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)});
  path.insert(path.end(), name.begin(), name.end());
  path.insert(path.end(), {0x7f, 0xff, 4, 0});
  std::vector<uint8_t> v = {
      1, 0, 0, 0, static_cast<uint8_t>(path.size()), static_cast<uint8_t>(path.size() >> 8)};
  Ucs2(v, label);
  v.insert(v.end(), path.begin(), path.end());
  for (char c : arguments) {
    v.push_back(static_cast<uint8_t>(c));
    v.push_back(0);
  }
  return v;
}

TEST(LoadOption, OursByItsPathNeverByItsLabel) {
  PartitionSignature esp{};
  esp.fill(0xA5);
  LoadOption o;
  ASSERT_TRUE(ParseLoadOption(Option("Panelup update", 0xA5, kStagedPath, "/f 2 6"), &o));
  EXPECT_EQ(o.label, "Panelup update");
  EXPECT_EQ(o.partitionNumber, 1u);
  EXPECT_TRUE(StartsOurImage(o, esp));
  ASSERT_TRUE(o.pair.has_value());
  EXPECT_EQ((*o.pair)[0], 2);
  EXPECT_EQ((*o.pair)[1], 6);
  // FAT names are case-blind.
  ASSERT_TRUE(ParseLoadOption(Option("x", 0xA5, "\\efi\\panelup\\PANELUP.EFI", ""), &o));
  EXPECT_TRUE(StartsOurImage(o, esp));
  EXPECT_FALSE(o.pair.has_value());
  // Another tool's entry of our label, and our path on another partition.
  ASSERT_TRUE(ParseLoadOption(Option("Panelup update", 0xA5, "\\EFI\\tools\\netboot.efi", ""), &o));
  EXPECT_FALSE(StartsOurImage(o, esp));
  ASSERT_TRUE(ParseLoadOption(Option("Panelup update", 0x5A, kStagedPath, "/f 2 6"), &o));
  EXPECT_FALSE(StartsOurImage(o, esp));
  // Arguments the tool would not take as a pair.
  for (const char *arguments : {"/f 2 256", "/f 2", "/f 2 6 7", "/s"}) {
    ASSERT_TRUE(ParseLoadOption(Option("x", 0xA5, kStagedPath, arguments), &o));
    EXPECT_FALSE(o.pair.has_value()) << arguments;
  }
}

// Every cut through the label or the path is refused (the sanitizers watch for reads past the
// value); cuts in the optional data only lose the pair.
TEST(LoadOption, AValueCutShortIsNoEntry) {
  const std::vector<uint8_t> whole = Option("Panelup update", 0xA5, kStagedPath, "/f 2 6");
  const size_t dataStart = whole.size() - 12;
  for (size_t size = 0; size < whole.size(); ++size) {
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(size));
    LoadOption o;
    EXPECT_EQ(ParseLoadOption(cut, &o), size >= dataStart) << size;
    EXPECT_FALSE(o.pair.has_value()) << size;
  }
}

} // namespace

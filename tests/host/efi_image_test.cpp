// The built UEFI images as a firmware loader sees them: PE32+ for x86-64 with the right subsystem,
// nothing imported (no loader would resolve it), base relocations present (firmware loads images
// wherever it finds memory), and no section both writable and executable.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The few PE/COFF fields checked here, at their offsets in the file format.
constexpr uint32_t kDosLfanewOffset = 0x3C;
constexpr uint32_t kPeSignature = 0x00004550; // "PE\0\0"
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint32_t kCoffMachine = 0;
constexpr uint32_t kCoffNumberOfSections = 2;
constexpr uint32_t kCoffSizeOfOptionalHeader = 16;
constexpr uint32_t kCoffCharacteristics = 18;
constexpr uint32_t kOptMagic = 0;
constexpr uint32_t kOptAddressOfEntryPoint = 16;
constexpr uint32_t kOptSubsystem = 68;
constexpr uint32_t kOptNumberOfRvaAndSizes = 108;
constexpr uint32_t kOptDataDirectories = 112;
constexpr uint32_t kDirectoryImport = 1;
constexpr uint32_t kDirectoryBaseReloc = 5;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionVirtualSize = 8;
constexpr uint32_t kSectionVirtualAddress = 12;
constexpr uint32_t kSectionCharacteristics = 36;

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint16_t kSubsystemEfiApplication = 10;
constexpr uint16_t kSubsystemEfiBootServiceDriver = 11;
constexpr uint16_t kFileRelocsStripped = 0x0001;
constexpr uint32_t kScnMemExecute = 0x20000000;
constexpr uint32_t kScnMemWrite = 0x80000000;

struct Section {
  std::string name;
  uint32_t virtualAddress, virtualSize, characteristics;
};

struct Directory {
  uint32_t rva, size;
};

struct PeImage {
  uint16_t machine = 0;
  uint16_t fileCharacteristics = 0;
  uint16_t magic = 0;
  uint16_t subsystem = 0;
  uint32_t entryPoint = 0;
  std::vector<Directory> directories;
  std::vector<Section> sections;
};

class Reader {
public:
  explicit Reader(const std::vector<uint8_t> &bytes) : bytes_(bytes) {}
  bool ok() const { return ok_; }
  uint32_t Get(uint64_t offset, int width) {
    if (offset + width > bytes_.size()) {
      ok_ = false;
      return 0;
    }
    uint32_t v = 0;
    for (int i = 0; i < width; ++i)
      v |= static_cast<uint32_t>(bytes_[offset + i]) << (8 * i);
    return v;
  }
  uint16_t U16(uint64_t offset) { return static_cast<uint16_t>(Get(offset, 2)); }
  uint32_t U32(uint64_t offset) { return Get(offset, 4); }

private:
  const std::vector<uint8_t> &bytes_;
  bool ok_ = true;
};

// Parses the headers of the image at `path`; a failed assertion says what is wrong.
void ParsePe(const std::string &path, PeImage &pe) {
  std::ifstream file(path, std::ios::binary);
  ASSERT_TRUE(file) << "cannot open " << path;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  Reader r(bytes);
  ASSERT_EQ(r.U16(0), 0x5A4D) << "no MZ header";
  uint32_t peOffset = r.U32(kDosLfanewOffset);
  ASSERT_EQ(r.U32(peOffset), kPeSignature);
  uint64_t coff = peOffset + 4;
  pe.machine = r.U16(coff + kCoffMachine);
  uint16_t sections = r.U16(coff + kCoffNumberOfSections);
  uint16_t optionalSize = r.U16(coff + kCoffSizeOfOptionalHeader);
  pe.fileCharacteristics = r.U16(coff + kCoffCharacteristics);
  uint64_t opt = coff + kCoffHeaderSize;
  pe.magic = r.U16(opt + kOptMagic);
  ASSERT_EQ(pe.magic, kMagicPe32Plus) << "not PE32+; the other fields would be misread";
  pe.entryPoint = r.U32(opt + kOptAddressOfEntryPoint);
  pe.subsystem = r.U16(opt + kOptSubsystem);
  uint32_t directories = r.U32(opt + kOptNumberOfRvaAndSizes);
  ASSERT_LE(kOptDataDirectories + 8ull * directories, optionalSize);
  for (uint32_t i = 0; i < directories; ++i)
    pe.directories.push_back({r.U32(opt + kOptDataDirectories + 8ull * i),
                              r.U32(opt + kOptDataDirectories + 8ull * i + 4)});
  uint64_t table = opt + optionalSize;
  for (uint16_t i = 0; i < sections; ++i) {
    uint64_t s = table + static_cast<uint64_t>(kSectionHeaderSize) * i;
    std::string name;
    for (int c = 0; c < 8 && r.Get(s + c, 1) != 0; ++c)
      name += static_cast<char>(r.Get(s + c, 1));
    pe.sections.push_back({name, r.U32(s + kSectionVirtualAddress), r.U32(s + kSectionVirtualSize),
                           r.U32(s + kSectionCharacteristics)});
  }
  ASSERT_TRUE(r.ok()) << path << " is cut short inside its headers";
}

Directory DirectoryAt(const PeImage &pe, uint32_t index) {
  return index < pe.directories.size() ? pe.directories[index] : Directory{0, 0};
}

// What every image we hand to firmware must satisfy. An image holding absolute addresses (tables
// of pointers) must carry their relocations; one without any may have an empty directory, which
// loaders accept, as long as it is not marked as stripped of them.
void ExpectLoadable(const PeImage &pe, bool holdsAddresses) {
  EXPECT_EQ(pe.machine, kMachineAmd64);
  EXPECT_EQ(DirectoryAt(pe, kDirectoryImport).size, 0u) << "imports nothing can resolve";
  EXPECT_EQ(pe.fileCharacteristics & kFileRelocsStripped, 0)
      << "marked as loadable only at its preferred address";
  if (holdsAddresses) {
    Directory reloc = DirectoryAt(pe, kDirectoryBaseReloc);
    EXPECT_NE(reloc.rva, 0u) << "no base relocations: loadable only at its preferred address";
    EXPECT_NE(reloc.size, 0u);
  }
  bool entryInCode = false;
  for (const Section &s : pe.sections) {
    EXPECT_FALSE((s.characteristics & kScnMemWrite) && (s.characteristics & kScnMemExecute))
        << "section " << s.name << " is writable and executable";
    if (pe.entryPoint >= s.virtualAddress && pe.entryPoint < s.virtualAddress + s.virtualSize)
      entryInCode = (s.characteristics & kScnMemExecute) != 0;
  }
  EXPECT_TRUE(entryInCode) << "entry point 0x" << std::hex << pe.entryPoint
                           << " is not in an executable section";
}

#ifdef PANELUP_EFI_DIR
const std::string kEfiDir = PANELUP_EFI_DIR;
#endif

void CheckImage(const std::string &file, uint16_t subsystem, bool holdsAddresses) {
#ifdef PANELUP_EFI_DIR
  PeImage pe;
  ASSERT_NO_FATAL_FAILURE(ParsePe(kEfiDir + "/" + file, pe));
  EXPECT_EQ(pe.subsystem, subsystem);
  ExpectLoadable(pe, holdsAddresses);
#else
  (void)subsystem;
  (void)holdsAddresses;
  GTEST_SKIP() << file << ": this build makes no UEFI images";
#endif
}

TEST(EfiImage, PanelupIsALoadableApplication) {
  CheckImage("Panelup.efi", kSubsystemEfiApplication, true);
}

TEST(EfiImage, SimctlIsALoadableApplication) {
  CheckImage("simctl.efi", kSubsystemEfiApplication, true);
}

// The driver builds its protocol at run time and holds no absolute address.
TEST(EfiImage, SimChipIsABootServiceDriver) {
  CheckImage("SimChip.efi", kSubsystemEfiBootServiceDriver, false);
}

} // namespace

// Just enough of the PE/COFF format to size the sections of a UEFI image and the writable static
// objects of the COFF objects it is linked from. Our own minimal declarations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kSectionCode = 0x00000020;            // IMAGE_SCN_CNT_CODE
constexpr uint32_t kSectionInitialisedData = 0x00000040; // IMAGE_SCN_CNT_INITIALIZED_DATA
constexpr uint32_t kSectionZeroFilledData = 0x00000080;  // IMAGE_SCN_CNT_UNINITIALIZED_DATA
constexpr uint32_t kSectionDiscardable = 0x02000000;     // IMAGE_SCN_MEM_DISCARDABLE
constexpr uint32_t kSectionWritable = 0x80000000;        // IMAGE_SCN_MEM_WRITE

struct PeSection {
  std::string name;
  uint32_t virtualSize;     // bytes once loaded
  uint32_t rawSize;         // bytes in the file (rounded up to the file alignment)
  uint32_t characteristics; // kSection* flags
};

struct PeImage {
  uint16_t machine = 0;
  uint16_t subsystem = 0;
  uint32_t sizeOfImage = 0; // loaded, headers included
  uint32_t sizeOfHeaders = 0;
  std::vector<PeSection> sections;
};

// Parses a PE32+ image; on failure returns false with `error` saying why.
bool ParsePeImage(const std::vector<uint8_t> &file, PeImage &image, std::string &error);

struct StaticObject {
  std::string name;
  std::string section;
  uint32_t bytes; // up to the next symbol in its section, so alignment padding included
};

// The data symbols of a COFF object that live in writable sections (zero-filled or not).
bool ParseStaticObjects(const std::vector<uint8_t> &file, std::vector<StaticObject> &objects,
                        std::string &error);

// The readable name in a Microsoft-mangled C++ symbol: "?gText@?A0x1234@@3PADA" is "gText",
// "?x@Scope@@..." is "Scope::x". Anything not mangled comes back as it is.
std::string PlainSymbolName(const std::string &symbol);

std::vector<uint8_t> ReadWholeFile(const std::string &path);

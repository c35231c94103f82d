#include "tests/bench/pe_image.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr uint32_t kDosNewHeaderOffset = 0x3C; // e_lfanew
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint16_t kPe32PlusMagic = 0x020B;
constexpr int16_t kFirstRealSection = 1; // 0 undefined, negative absolute or debug
constexpr uint8_t kClassExternal = 2;
constexpr uint8_t kClassStatic = 3;
constexpr uint16_t kTypeFunction = 0x20; // complex type "function" in bits 4-5

struct FileHeader {
  uint16_t machine;
  uint16_t numberOfSections;
  uint32_t timeDateStamp;
  uint32_t pointerToSymbolTable;
  uint32_t numberOfSymbols;
  uint16_t sizeOfOptionalHeader;
  uint16_t characteristics;
};
static_assert(sizeof(FileHeader) == 20);

struct SectionHeader {
  char name[8];
  uint32_t virtualSize;
  uint32_t virtualAddress;
  uint32_t sizeOfRawData;
  uint32_t pointerToRawData;
  uint32_t pointerToRelocations;
  uint32_t pointerToLinenumbers;
  uint16_t numberOfRelocations;
  uint16_t numberOfLinenumbers;
  uint32_t characteristics;
};
static_assert(sizeof(SectionHeader) == 40);

// The PE32+ optional header up to the fields we read.
struct OptionalHeaderStart {
  uint16_t magic;
  uint8_t linkerVersion[2];
  uint32_t sizeOfCode;
  uint32_t sizeOfInitializedData;
  uint32_t sizeOfUninitializedData;
  uint32_t addressOfEntryPoint;
  uint32_t baseOfCode;
  uint64_t imageBase;
  uint32_t sectionAlignment;
  uint32_t fileAlignment;
  uint16_t versions[6];
  uint32_t win32VersionValue;
  uint32_t sizeOfImage;
  uint32_t sizeOfHeaders;
  uint32_t checkSum;
  uint16_t subsystem;
};
static_assert(offsetof(OptionalHeaderStart, sizeOfImage) == 56);
static_assert(offsetof(OptionalHeaderStart, subsystem) == 68);

#pragma pack(push, 1)
struct Symbol {
  char name[8]; // or four zero bytes and an offset into the string table
  uint32_t value;
  int16_t sectionNumber;
  uint16_t type;
  uint8_t storageClass;
  uint8_t numberOfAuxSymbols;
};
#pragma pack(pop)
static_assert(sizeof(Symbol) == 18);

template <typename T> bool ReadAt(const std::vector<uint8_t> &file, uint64_t offset, T &out) {
  if (offset > file.size() || file.size() - offset < sizeof(T))
    return false;
  std::memcpy(&out, file.data() + offset, sizeof(T));
  return true;
}

std::string ShortName(const char (&name)[8]) {
  return std::string(name, strnlen(name, sizeof(name)));
}

bool ReadSections(const std::vector<uint8_t> &file, uint64_t offset, uint16_t count,
                  std::vector<SectionHeader> &sections) {
  sections.resize(count);
  for (uint16_t i = 0; i < count; ++i)
    if (!ReadAt(file, offset + i * sizeof(SectionHeader), sections[i]))
      return false;
  return true;
}

std::string SymbolName(const std::vector<uint8_t> &file, const Symbol &symbol,
                       uint64_t stringTable) {
  uint32_t zeroes = 0;
  uint32_t offset = 0;
  std::memcpy(&zeroes, symbol.name, 4);
  std::memcpy(&offset, symbol.name + 4, 4);
  if (zeroes != 0)
    return ShortName(symbol.name);
  uint64_t at = stringTable + offset;
  if (at >= file.size())
    return "?";
  const char *text = reinterpret_cast<const char *>(file.data() + at);
  return std::string(text, strnlen(text, file.size() - at));
}

} // namespace

bool ParsePeImage(const std::vector<uint8_t> &file, PeImage &image, std::string &error) {
  uint16_t dosMagic = 0;
  uint32_t peOffset = 0;
  uint32_t signature = 0;
  if (!ReadAt(file, 0, dosMagic) || dosMagic != kDosMagic ||
      !ReadAt(file, kDosNewHeaderOffset, peOffset)) {
    error = "no DOS header";
    return false;
  }
  FileHeader header{};
  if (!ReadAt(file, peOffset, signature) || signature != kPeSignature ||
      !ReadAt(file, peOffset + 4ull, header)) {
    error = "no PE header";
    return false;
  }
  OptionalHeaderStart optional{};
  uint64_t optionalOffset = peOffset + 4ull + sizeof(FileHeader);
  if (header.sizeOfOptionalHeader < sizeof(OptionalHeaderStart) ||
      !ReadAt(file, optionalOffset, optional) || optional.magic != kPe32PlusMagic) {
    error = "not a PE32+ image";
    return false;
  }
  std::vector<SectionHeader> sections;
  if (!ReadSections(file, optionalOffset + header.sizeOfOptionalHeader, header.numberOfSections,
                    sections)) {
    error = "section table cut short";
    return false;
  }
  image.machine = header.machine;
  image.subsystem = optional.subsystem;
  image.sizeOfImage = optional.sizeOfImage;
  image.sizeOfHeaders = optional.sizeOfHeaders;
  image.sections.clear();
  for (const SectionHeader &s : sections)
    image.sections.push_back(
        {ShortName(s.name), s.virtualSize, s.sizeOfRawData, s.characteristics});
  return true;
}

bool ParseStaticObjects(const std::vector<uint8_t> &file, std::vector<StaticObject> &objects,
                        std::string &error) {
  FileHeader header{};
  std::vector<SectionHeader> sections;
  if (!ReadAt(file, 0, header) || header.sizeOfOptionalHeader != 0 ||
      !ReadSections(file, sizeof(FileHeader), header.numberOfSections, sections)) {
    error = "not a COFF object";
    return false;
  }
  const uint64_t stringTable =
      header.pointerToSymbolTable + static_cast<uint64_t>(header.numberOfSymbols) * sizeof(Symbol);

  struct Placed {
    std::string name;
    int section; // 0-based
    uint32_t offset;
  };
  std::vector<Placed> placed;
  for (uint32_t i = 0; i < header.numberOfSymbols; ++i) {
    Symbol symbol{};
    if (!ReadAt(file, header.pointerToSymbolTable + static_cast<uint64_t>(i) * sizeof(Symbol),
                symbol)) {
      error = "symbol table cut short";
      return false;
    }
    const int section = symbol.sectionNumber - kFirstRealSection;
    const bool data = (symbol.type & 0x30) != kTypeFunction;
    const bool named = symbol.storageClass == kClassExternal || symbol.storageClass == kClassStatic;
    if (section >= 0 && section < int(sections.size()) && data && named) {
      std::string name = SymbolName(file, symbol, stringTable);
      // A section's own symbol carries the section's name and an auxiliary record.
      bool sectionSymbol = symbol.numberOfAuxSymbols > 0 && symbol.storageClass == kClassStatic &&
                           name == ShortName(sections[section].name);
      if (!sectionSymbol)
        placed.push_back({name, section, symbol.value});
    }
    i += symbol.numberOfAuxSymbols;
  }

  // The gap up to the next symbol (or the section's end) is the object's size.
  std::sort(placed.begin(), placed.end(), [](const Placed &a, const Placed &b) {
    return a.section != b.section ? a.section < b.section : a.offset < b.offset;
  });
  for (size_t i = 0; i < placed.size(); ++i) {
    const SectionHeader &s = sections[placed[i].section];
    if ((s.characteristics & kSectionWritable) == 0)
      continue;
    uint32_t end = s.sizeOfRawData;
    for (size_t j = i + 1; j < placed.size() && placed[j].section == placed[i].section; ++j) {
      if (placed[j].offset > placed[i].offset) {
        end = placed[j].offset;
        break;
      }
    }
    if (end > placed[i].offset)
      objects.push_back({placed[i].name, ShortName(s.name), end - placed[i].offset});
  }
  return true;
}

std::string PlainSymbolName(const std::string &symbol) {
  if (symbol.empty() || symbol[0] != '?')
    return symbol;
  // "?name@scope@scope@@type": the name first, then enclosing scopes innermost first, up to "@@".
  std::vector<std::string> parts;
  size_t at = 1;
  while (at < symbol.size()) {
    size_t end = symbol.find('@', at);
    if (end == std::string::npos || end == at)
      break;
    parts.push_back(symbol.substr(at, end - at));
    at = end + 1;
  }
  if (parts.empty())
    return symbol;
  // Outermost scope first; anonymous namespaces carry no readable name.
  std::string plain;
  for (size_t i = parts.size(); i-- > 1;)
    if (parts[i].rfind("?A", 0) != 0)
      plain.append(parts[i]).append("::");
  return plain.append(parts[0]);
}

std::vector<uint8_t> ReadWholeFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

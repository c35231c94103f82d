// Build step: the catalogue Panelup.efi carries, as a text file beside it, so panelupctl can
// refuse a CID/PID pair the tool would not find (and flash its default entry for) before anything
// is scheduled. Written from the table the tool itself is compiled from, never a copy of it.
// Usage: catalogue_text OUTPUT
//
// The format is formats/catalogue_file.h.
#include <cstdio>
#include <string>

#include "catalogue/catalogue.h"
#include "formats/catalogue_file.h"

namespace {

// The model's name as a word; false when it holds a character a word may not.
bool ModelWord(const CatalogueEntry &entry, std::string &word) {
  word.clear();
  for (char16_t c : entry.model) {
    if (c == 0)
      break;
    if (c > 0x7e || !ModelCharacter(static_cast<char>(c)))
      return false;
    word += static_cast<char>(c);
  }
  return !word.empty() && word.size() <= kMaxModelChars;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: catalogue_text OUTPUT\n");
    return 2;
  }
  std::string text = std::string(kCatalogueHeader) + "\n";
  for (const CatalogueEntry &entry : FirmwareCatalogue) {
    std::string model;
    if (!ModelWord(entry, model)) {
      std::fprintf(stderr, "catalogue_text: the model of entry %u/%u is not one word\n",
                   static_cast<unsigned>(entry.cid), static_cast<unsigned>(entry.pid));
      return 1;
    }
    char line[kCatalogueLineBytes] = {};
    text.append(line, FormatCatalogueEntry(entry.cid, entry.pid, entry.txx, model.c_str(), line));
  }

  std::FILE *out = std::fopen(argv[1], "wb");
  if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
      std::fclose(out) != 0) {
    std::fprintf(stderr, "catalogue_text: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

// Build step: the catalogue Panelup.efi carries, as a text file beside it, so panelupctl can
// refuse a CID/PID pair the tool would not find (and flash its default entry for) before anything
// is scheduled. Written from the table the tool itself is compiled from, never a copy of it.
// Usage: catalogue_text OUTPUT
//
// The format, one record a line, fields separated by one space:
//   panelup-catalogue/1                              the first line: format and version
//   entry cid=1 pid=1 txx=19 model=FRD700H31018-A    one line per entry, in the table's order
// Values are decimal numbers or words of [A-Za-z0-9._-], so a reader needs no quoting rules.
// Readers skip keys and records they do not know; a new kind of fact is a new key or a new line
// of the form `key=value`, and only a change a reader would misread takes a new version.
#include <cstdio>
#include <string>

#include "catalogue/catalogue.h"

namespace {

bool WordCharacter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
         c == u'.' || c == u'_' || c == u'-';
}

// The model's name as a word; false when it holds a character a word may not.
bool ModelWord(const CatalogueEntry &entry, std::string &word) {
  word.clear();
  for (char16_t c : entry.model) {
    if (c == 0)
      break;
    if (!WordCharacter(c))
      return false;
    word += static_cast<char>(c);
  }
  return !word.empty();
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: catalogue_text OUTPUT\n");
    return 2;
  }
  std::string text = "panelup-catalogue/1\n";
  for (const CatalogueEntry &entry : FirmwareCatalogue) {
    std::string model;
    if (!ModelWord(entry, model)) {
      std::fprintf(stderr, "catalogue_text: the model of entry %u/%u is not one word\n",
                   static_cast<unsigned>(entry.cid), static_cast<unsigned>(entry.pid));
      return 1;
    }
    text += "entry cid=" + std::to_string(entry.cid) + " pid=" + std::to_string(entry.pid) +
            " txx=" + std::to_string(entry.txx) + " model=" + model + "\n";
  }

  std::FILE *out = std::fopen(argv[1], "wb");
  if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
      std::fclose(out) != 0) {
    std::fprintf(stderr, "catalogue_text: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

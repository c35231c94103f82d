// The catalogue file beside Panelup.efi (panelup-catalogue.txt), written by the build from the
// table the tool is compiled from (scripts/catalogue_text.cpp), read by panelupctl to refuse a
// CID/PID pair the tool would not find. One record a line, fields separated by one space:
//   panelup-catalogue/1                              the first line: format and version
//   entry cid=1 pid=1 txx=19 model=FRD700H31018-A    one line per entry, in the table's order
// Values are decimal numbers or words of [A-Za-z0-9._-], so a reader needs no quoting rules.
// Readers skip keys and records they do not know; a new kind of fact is a new key or a new line,
// and only a change a reader would misread takes a new version.
#pragma once

#include <stdint.h>

inline constexpr char kCatalogueFileName[] = "panelup-catalogue.txt";
inline constexpr char kCatalogueHeader[] = "panelup-catalogue/1";
constexpr uint32_t kMaxModelChars = 31;

bool ModelCharacter(char c);

struct CatalogueLine {
  bool entry; // an entry line; the fields below are set only for one
  bool hasCid;
  bool hasPid;
  bool hasTxx;
  uint8_t cid;
  uint8_t pid;
  uint8_t txx;
  char model[kMaxModelChars + 1]; // NUL-ended, empty when missing or not a word
};

// One line without its line end. A line that is not an entry is skipped by the caller; an entry
// needs hasCid and hasPid to be one.
void ParseCatalogueLine(const char *text, uint32_t size, CatalogueLine *line);

// One entry line with its line end, its length returned (0 when `text` has no room).
constexpr uint32_t kCatalogueLineBytes = 96;
uint32_t FormatCatalogueEntry(uint8_t cid, uint8_t pid, uint8_t txx, const char *model,
                              char (&text)[kCatalogueLineBytes]);

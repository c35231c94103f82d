#include "formats/catalogue_file.h"

#include "formats/scan.h"

bool ModelCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

void ParseCatalogueLine(const char *text, uint32_t size, CatalogueLine *line) {
  *line = CatalogueLine{};
  Scan s = ScanOf(text, size);
  if (!s.Take("entry") || !(s.AtEnd() || *s.at == ' '))
    return;
  line->entry = true;
  while (!s.AtEnd()) {
    s.Take(" ");
    Scan field{s.at, s.at};
    while (field.end != s.end && *field.end != ' ')
      ++field.end;
    s.at = field.end;
    uint8_t value = 0;
    if (field.Take("cid=")) {
      line->hasCid = field.Byte(&value) && field.AtEnd();
      line->cid = line->hasCid ? value : 0;
    } else if (field.Take("pid=")) {
      line->hasPid = field.Byte(&value) && field.AtEnd();
      line->pid = line->hasPid ? value : 0;
    } else if (field.Take("txx=")) {
      line->hasTxx = field.Byte(&value) && field.AtEnd();
      line->txx = line->hasTxx ? value : 0;
    } else if (field.Take("model=")) {
      const uint32_t n = static_cast<uint32_t>(field.end - field.at);
      bool word = n > 0 && n <= kMaxModelChars;
      for (uint32_t i = 0; word && i < n; ++i)
        word = ModelCharacter(field.at[i]);
      for (uint32_t i = 0; i < n && word; ++i)
        line->model[i] = field.at[i];
      line->model[word ? n : 0] = 0;
    }
  }
}

uint32_t FormatCatalogueEntry(uint8_t cid, uint8_t pid, uint8_t txx, const char *model,
                              char (&text)[kCatalogueLineBytes]) {
  Out out{text, kCatalogueLineBytes, 0};
  out.Add("entry cid=");
  out.Number(cid);
  out.Add(" pid=");
  out.Number(pid);
  out.Add(" txx=");
  out.Number(txx);
  out.Add(" model=");
  out.Add(model);
  out.Add("\n");
  return out.length < kCatalogueLineBytes ? out.length : 0;
}

// The /g report. Its messages are exact to the byte on purpose (see console/console.h).
#include "catalogue/support_list.h"

#include "catalogue/catalogue.h"
#include "console/console.h"
#include "platform/cmos.h"

bool ShowAllEntries = false;

void SupportList() {
  uint8_t platformCid = ReadCmos(kCmosVersionCid);
  uint8_t platformPid = ReadCmos(kCmosVersionPid);

  Print(u"\n ------------------- LT7911D FW support List -------------------");
  Print(u"\n  Index | CID   PID   Txx  |   Size      Model                  ");
  Print(u"\n ---------------------------------------------------------------");
  uint8_t row = 0;
  for (const CatalogueEntry &entry : FirmwareCatalogue) {
    if (!ShowAllEntries && entry.cid != platformCid)
      continue;
    ++row;
    bool marked = entry.cid == platformCid && entry.pid == platformPid;
    const char16_t *format = marked ? u"\n  * %02d  |  %02d    %02d    %02d  |  %d inch     %s  "
                                    : u"\n    %02d  |  %02d    %02d    %02d  |  %d inch     %s  ";
    Print(format, row, entry.cid, entry.pid, entry.txx, entry.size, entry.model);
  }
  Print(u"\n ---------------------------------------------------------------\n");
  Print(u"\n\n");
}

// The /s query. Its message is exact to the byte on purpose (see console/console.h).
#include "app/version_query.h"

#include "formats/exit_status.h"
#include "chip/registers.h"
#include "console/console.h"

int32_t VersionQuery() {
  ChipBusHold hold;
  if (EfiIsError(LocateChipBus()))
    return kExitBusNotFound;
  FirmwareVersion v = ReadOnboardVersion();
  ReleaseRegisterAccess();
  Print(u"\n VTQ_001 LT7911D FW version [ CID_PID_Txx ] On board = [ %02d.%02d.%02d ]\n\n", v.cid,
        v.pid, v.txx);
  return kExitVersionQuery;
}

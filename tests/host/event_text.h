// A run's event log as text, so a test can state a whole run as the ordered list of what the
// platform saw. One line per event, except where a pattern makes one operation:
//   print "…"            a Print: a 642-byte pool buffer, one OutputString, the buffer freed
//   output "…"           any other OutputString
//   clear, cursor C,R, attribute AA, cursor on|off    the other console calls
//   alloc N, free N      pool calls (" -> Status" when not Success)
//   W rr vv, R rr vv     SMBus transactions (" failed" when the transfer failed)
//   cmos[ii] = vv, cmos[ii] -> vv, ec vv, out pp vv, in pp vv    port accesses
//   stall N
//   GetVariable NAME (N) -> Status, SetVariable NAME AA (N) -> Status
//   watchdog N, wakeup on|off YYYY-MM-DDTHH:MM:SS -> Status, reset cold|warm|shutdown
// Runs of identical traffic fold into "K x {" … "}". Inside a fold the bytes that differ from one
// page to the next show as "..": flash data (bank 0x80 registers 0x59 and 0x5F), the flash
// address (0x5B to 0x5D) and the progress line's percentage.
#pragma once

#include <string>
#include <vector>

#include "sim/host/host_events.h"

std::string EventText(const std::vector<sim::Event> &events);

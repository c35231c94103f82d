// The I/O ports of the host platform: CMOS RTC index/data at 0x70/0x71 and the EC command port
// 0x66. Every access is logged in order.
#include <cstdio>
#include <cstdlib>

#include "platform/port_io.h"
#include "sim/host/host_firmware.h"

namespace sim {

uint8_t HostPlatform::PortRead(uint16_t port) {
  State &s = *state_;
  uint8_t value = 0xFF; // nothing answers on other ports
  if (port == kCmosDataPort)
    value = s.cmos[s.cmosIndex];
  else if (port == kEcCommandPort)
    value = 0x00; // EC status: input and output buffers empty
  s.portLog.push_back(PortAccess{port, false, value});
  return value;
}

void HostPlatform::PortWrite(uint16_t port, uint8_t value) {
  State &s = *state_;
  s.portLog.push_back(PortAccess{port, true, value});
  if (port == kCmosIndexPort)
    s.cmosIndex = value & 0x7F; // bit 7 masks NMI, it is not part of the index
  else if (port == kCmosDataPort)
    s.cmos[s.cmosIndex] = value;
  else if (port == kEcCommandPort)
    s.ecLog.push_back(value);
}

} // namespace sim

namespace {
sim::HostPlatform &Platform() {
  sim::HostPlatform *p = sim::HostPlatform::Active();
  if (p == nullptr) {
    std::fprintf(stderr, "sim: port access with no HostPlatform alive\n");
    std::abort();
  }
  return *p;
}
} // namespace

uint8_t PortRead8(uint16_t port) {
  return Platform().PortRead(port);
}
void PortWrite8(uint16_t port, uint8_t value) {
  Platform().PortWrite(port, value);
}

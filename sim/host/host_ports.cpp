// The I/O ports of the host platform: CMOS RTC index/data at 0x70/0x71 and the EC command port
// 0x66. Every access is an event.
#include "sim/host/host_state.h"
#include "sim/host/port_hook.h"

namespace sim {
namespace {

uint8_t PortRead(uint16_t port) {
  HostPlatform::State &s = ActiveState();
  uint8_t value = 0xFF; // nothing answers on other ports
  if (port == kCmosDataPort)
    value = s.cmos[s.cmosIndex];
  else if (port == kEcCommandPort)
    value = 0x00; // EC status: input and output buffers empty
  s.events.emplace_back(PortAccess{port, false, value});
  return value;
}

void PortWrite(uint16_t port, uint8_t value) {
  HostPlatform::State &s = ActiveState();
  s.events.emplace_back(PortAccess{port, true, value});
  if (port == kCmosIndexPort)
    s.cmosIndex = value & 0x7F; // bit 7 masks NMI, it is not part of the index
  else if (port == kCmosDataPort)
    s.cmos[s.cmosIndex] = value;
}

} // namespace

void InstallPorts(HostPlatform::State & /*s*/) {
  gPortHook.read = PortRead;
  gPortHook.write = PortWrite;
}

} // namespace sim

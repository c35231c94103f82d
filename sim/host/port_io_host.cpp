// Port I/O for the host build: every access goes to the living HostPlatform's ports.
#include <cstdio>
#include <cstdlib>

#include "platform/port_io.h"
#include "sim/host/port_hook.h"

namespace sim {
PortHook gPortHook;
} // namespace sim

namespace {
void NeedPlatform() {
  if (sim::gPortHook.read == nullptr || sim::gPortHook.write == nullptr) {
    std::fprintf(stderr, "sim: port access with no HostPlatform alive\n");
    std::abort();
  }
}
} // namespace

uint8_t PortRead8(uint16_t port) {
  NeedPlatform();
  return sim::gPortHook.read(port);
}

void PortWrite8(uint16_t port, uint8_t value) {
  NeedPlatform();
  sim::gPortHook.write(port, value);
}

// Where the host build's port instructions go. The tool's port functions (platform/port_io.h)
// are compiled into the tool's host library and reach the living platform through these, so the
// tool links nothing of the platform.
#pragma once

#include <cstdint>

namespace sim {

struct PortHook {
  uint8_t (*read)(uint16_t port) = nullptr;
  void (*write)(uint16_t port, uint8_t value) = nullptr;
};

// Set by the living HostPlatform; a port access with none alive stops the test.
extern PortHook gPortHook;

} // namespace sim

// Byte-wide x86 I/O port access. The UEFI build uses the in/out instructions; the host build
// links the simulated ports.
#pragma once

#include <stdint.h>

uint8_t PortRead8(uint16_t port);
void PortWrite8(uint16_t port, uint8_t value);

// Port I/O for the UEFI build: one byte-wide in/out instruction per access, issued by the
// tool itself rather than through a UEFI I/O service.
#include "platform/port_io.h"

uint8_t PortRead8(uint16_t port) {
  uint8_t value = 0;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(value) : "Nd"(port) : "memory");
  return value;
}

void PortWrite8(uint16_t port, uint8_t value) {
  __asm__ __volatile__("outb %b0, %w1" : : "a"(value), "Nd"(port) : "memory");
}

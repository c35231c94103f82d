#include "platform/cmos.h"

#include "platform/port_io.h"

uint8_t ReadCmos(uint8_t index) {
  PortWrite8(kCmosIndexPort, index);
  return PortRead8(kCmosDataPort);
}

void WriteCmos(uint8_t index, uint8_t value) {
  PortWrite8(kCmosIndexPort, index);
  PortWrite8(kCmosDataPort, value);
  // Select the byte again and read it once; the value read is not used.
  PortWrite8(kCmosIndexPort, index);
  (void)PortRead8(kCmosDataPort);
}

void PublishVersion(const FirmwareVersion &version) {
  WriteCmos(kCmosVersionCid, version.cid);
  WriteCmos(kCmosVersionPid, version.pid);
  WriteCmos(kCmosVersionTxx, version.txx);
}

void SetUpdateStatus(uint8_t code) {
  WriteCmos(kCmosUpdateStatus, code);
}

// No status polling: the controller takes the byte as it comes.
void SendEcCommand(uint8_t command) {
  PortWrite8(kEcCommandPort, command);
}

// The CMOS mailbox the platform firmware reads after an update, and the embedded controller's
// command port.
#pragma once

#include <stdint.h>

#include "chip/firmware_version.h"

constexpr uint16_t kCmosIndexPort = 0x70;
constexpr uint16_t kCmosDataPort = 0x71;
constexpr uint16_t kEcCommandPort = 0x66;

// Mailbox bytes.
constexpr uint8_t kCmosVersionCid = 0x70;
constexpr uint8_t kCmosVersionPid = 0x71;
constexpr uint8_t kCmosVersionTxx = 0x72;
constexpr uint8_t kCmosUpdateStatus = 0x79;

uint8_t ReadCmos(uint8_t index);
void WriteCmos(uint8_t index, uint8_t value);
void PublishVersion(const FirmwareVersion &version);
void SetUpdateStatus(uint8_t code);
void SendEcCommand(uint8_t command);

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

// Update status codes, in the order a run writes them.
constexpr uint8_t kStatusConfigured = 0xF2;
constexpr uint8_t kStatusKeySaved = 0xF3;
constexpr uint8_t kStatusErased = 0xF4;
constexpr uint8_t kStatusFirmwareWritten = 0xF5;
constexpr uint8_t kStatusKeyWritten = 0xF6;
constexpr uint8_t kStatusReadBack = 0xF7;
constexpr uint8_t kStatusComparePassed = 0xF0;
constexpr uint8_t kStatusCompareFailed = 0xF8;
constexpr uint8_t kStatusStoppedBeforeErase = 0xF9; // wrong chip id, or key area not secured
constexpr uint8_t kStatusEnded = 0xFF;

// Embedded controller commands.
constexpr uint8_t kEcUpdateStarting = 0x8B;
constexpr uint8_t kEcUpdatePassed = 0x8A;
constexpr uint8_t kEcUpdateFailed = 0x8C;

uint8_t ReadCmos(uint8_t index);
void WriteCmos(uint8_t index, uint8_t value);
void PublishVersion(const FirmwareVersion &version);
void SetUpdateStatus(uint8_t code);
void SendEcCommand(uint8_t command);

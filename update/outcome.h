// How the update ends, and how it tells the platform where it got to: status codes in CMOS byte
// 0x79 and commands to the embedded controller.
#pragma once

#include <stdint.h>

#include "chip/firmware_version.h"

enum class UpdateResult : uint8_t {
  Passed,             // the chip holds the new image and its own key area
  CompareFailed,      // written, but the read-back differs
  StoppedBeforeErase, // key area not kept safe, or the image damaged: nothing erased
  WrongChip,          // the chip id is not the bridge's: nothing erased
  TestImageRefused,   // a test pattern and a real controller: nothing sent to the chip or CMOS
};

// How a run ended, the versions it went from and to, and how many erase, write and verify
// attempts it started (0: it stopped before the erase).
struct UpdateOutcome {
  UpdateResult result;
  FirmwareVersion onboard; // read from the chip at the start
  FirmwareVersion target;  // the selected catalogue entry's
  uint8_t attempts;
};

// Update status codes, in the order a run writes them.
constexpr uint8_t kStatusConfigured = 0xF2;
constexpr uint8_t kStatusKeySaved = 0xF3;
constexpr uint8_t kStatusErased = 0xF4;
constexpr uint8_t kStatusFirmwareWritten = 0xF5;
constexpr uint8_t kStatusKeyWritten = 0xF6;
constexpr uint8_t kStatusReadBack = 0xF7;
constexpr uint8_t kStatusComparePassed = 0xF0;
constexpr uint8_t kStatusCompareFailed = 0xF8;
// Wrong chip id, key area not secured, or image damaged.
constexpr uint8_t kStatusStoppedBeforeErase = 0xF9;
constexpr uint8_t kStatusEnded = 0xFF;

// Embedded controller commands.
constexpr uint8_t kEcUpdateStarting = 0x8B;
constexpr uint8_t kEcUpdatePassed = 0x8A;
constexpr uint8_t kEcUpdateFailed = 0x8C;

// The private protocol through which simctl.efi reaches the chip model inside SimChip.efi. Both
// images are built from one tree, so the model's structures are shared as they are; the version
// and the sizes guard against pairing images from different builds.
#pragma once

#include "sim/bridge_chip.h"
#include "sim/sim_bus.h"
#include "uefi/efi_types.h"

// Raise whenever this structure or the meaning of a member changes.
constexpr uint32_t kSimControlVersion = 5;

struct SIM_CONTROL_PROTOCOL {
  uint32_t Version;
  uint32_t ChipSize; // sizeof(sim::BridgeChip) in the driver's build
  uint32_t BusSize;  // sizeof(sim::SimBus) in the driver's build
  sim::BridgeChip *Chip;
  sim::SimBus *Bus;
  // Powers the chip on again with its current configuration and restarts the bus counters. The
  // model's code runs inside the driver, next to the clock it keeps.
  void(EFIAPI *PowerOn)(SIM_CONTROL_PROTOCOL *This);
  // The model's clock in microseconds: modelled bus time plus the real time between transactions.
  const uint64_t *NowMicros;
  // Ends a power cut: the chip restarts keeping its flash and settings, the bus works again
  // (its faults, counted by transaction index, are cleared) and counts from 0.
  void(EFIAPI *PowerCycle)(SIM_CONTROL_PROTOCOL *This);
  // Whether the driver's load took the chip from the store (sim/efi/chip_store.h), and how many
  // flash bytes the store held.
  BOOLEAN Restored;
  uint32_t RestoredBytes;
  // Puts the simulator's mark on the controller's handle, or takes it off, so the emulator can
  // show what the tool does on a controller that passes for a real machine's.
  EFI_STATUS(EFIAPI *SetMark)(SIM_CONTROL_PROTOCOL *This, BOOLEAN marked);
};
static_assert(offsetof(SIM_CONTROL_PROTOCOL, Chip) == 16);
static_assert(offsetof(SIM_CONTROL_PROTOCOL, PowerOn) == 32);
static_assert(offsetof(SIM_CONTROL_PROTOCOL, PowerCycle) == 48);
static_assert(offsetof(SIM_CONTROL_PROTOCOL, RestoredBytes) == 60);
static_assert(offsetof(SIM_CONTROL_PROTOCOL, SetMark) == 64);

// Our own GUID (7E753922-097E-4497-86AD-E37692CB06AB), generated for this protocol.
inline constexpr EFI_GUID kSimControlProtocolGuid = {
    0x7E753922, 0x097E, 0x4497, {0x86, 0xAD, 0xE3, 0x76, 0x92, 0xCB, 0x06, 0xAB}};

// Register access to the bridge chip over the platform's SMBus host controller.
#pragma once

#include "chip/firmware_version.h"
#include "chip/simulated_bus.h"
#include "uefi/smbus_hc.h"

constexpr UINTN kChipSmbusAddress = 0x2B;
constexpr uint16_t kExpectedChipId = 0x1605;

// Bank select register, present in every bank.
constexpr uint8_t kBankSelectRegister = 0xFF;

// One step of a register sequence.
struct RegisterWrite {
  uint8_t reg;
  uint8_t value;
};

// Finds the SMBus host controller on the first handle that carries it.
EFI_STATUS LocateChipBus();
// Whether the controller LocateChipBus found carries that mark.
bool ChipBusIsSimulated();
// Returns the handle list the search obtained, if any, to the pool.
void ReleaseChipBus();
// Forgets the interface and handle list; a run starts from here.
void ResetChipBus();

// The one owner of the handle list: whoever searches for the bus holds one of these, and the list
// goes back to the pool when it goes out of scope, on every path.
struct ChipBusHold {
  ChipBusHold() = default;
  ~ChipBusHold() { ReleaseChipBus(); }
  ChipBusHold(const ChipBusHold &) = delete;
  ChipBusHold &operator=(const ChipBusHold &) = delete;
};

// Whether any transfer failed since the last ClearBusFault. A read that failed is no read: the
// key-area save and the read-back ask, so that the bytes a failed transfer left behind are never
// judged.
bool BusFaultSeen();
void ClearBusFault();

// Failed transfers in all after which a run gives the bus up, whatever came between them. A bus
// that can still pass a read-back (some 24,000 transfers of /f 2 6, none of which may fail) fails
// a handful in a whole update; 1,024 is far past that for all nine attempts a schedule allows.
// On a degraded bus each failure waits out the controller's timeout (about 35 ms), so the budget
// caps the time one run loses to failures at some 36 s, however many attempts it may make;
// without it a bus failing every other transfer kept a nine-attempt run for over two hours.
constexpr uint32_t kFailureBudget = 1024;
// Whether the run gave the bus up: 64 failed transfers in a row, or the failure budget spent.
// Every access since has been skipped, counted as failed (reads give 0xFF), until the next
// run's ResetChipBus.
bool ChipBusAbandoned();

uint8_t ReadRegister(uint8_t reg);
void WriteRegister(uint8_t reg, uint8_t value);
void SelectBank(uint8_t bank);
void EnableRegisterAccess();
void ReleaseRegisterAccess();

template <UINTN N> void WriteRegisters(const RegisterWrite (&list)[N]) {
  for (const RegisterWrite &w : list)
    WriteRegister(w.reg, w.value);
}

uint16_t ReadChipId();
FirmwareVersion ReadOnboardVersion();

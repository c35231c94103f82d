// The simulated SMBus host controller: EFI_SMBUS_HC_PROTOCOL with the bridge chip model behind
// it, a transaction trace hook, modelled bus time and transaction-level fault injection.
// Freestanding, like the chip model.
//
// Execute accepts EfiSmbusReadByte and EfiSmbusWriteByte with *Length == 1 and a Command below
// 0x100; anything else is EFI_INVALID_PARAMETER. A slave address other than kChipAddress gets
// EFI_DEVICE_ERROR (nobody answers). Such rejected calls are counted in `rejected` only: they are
// not transactions, take no bus time and are not traced.
#pragma once

#include "sim/bridge_chip.h"
#include "uefi/smbus_hc.h"

namespace sim {

constexpr UINTN kChipAddress = 0x2B; // 7-bit SMBus address of the bridge chip
constexpr uint32_t kDefaultBusHz = 100000;

enum class Op : uint8_t { Read, Write };

struct Transaction {
  uint64_t index; // 0-based position since the counters were last reset (BusResetCounters)
  Op op;
  uint8_t bank; // bank selected when the transaction was issued
  uint8_t reg;
  uint8_t value; // byte written, or byte returned to the caller (unchanged buffer if failed)
  bool failed;
  uint64_t timeMicros; // simulated time at the start of the transaction
};

// Faults by transaction index (as in Transaction::index).
struct BusFaults {
  uint64_t failFrom = kNever;          // every transaction from this index on fails
  uint64_t failOnce = kNever;          // this one transaction fails,
  uint32_t failAgain = 0;              // and this many more after it,
  uint32_t failStride = 1;             // each this many transactions after the one before
  uint64_t failAlternateFrom = kNever; // every other transaction from this index on fails
  const uint64_t *failAt = nullptr;    // these indices fail too, in increasing order
  uint32_t failAtCount = 0;
  // A failed transfer takes this long on top of its bit times: a controller waiting out its
  // timeout. 0 (the default) keeps a failure as quick as a transfer.
  uint32_t failureMicros = 0;
  uint64_t flipReadAt = kNever; // this read returns its byte with flipMask toggled
  uint8_t flipMask = 0x01;
  uint64_t ignoreWriteAt = kNever; // the chip ignores this one write (the call succeeds)
};

struct SimBus {
  EFI_SMBUS_HC_PROTOCOL protocol{}; // first member: Execute casts This back to the SimBus
  BridgeChip *chip{};               // nullptr: no device on the bus
  BusFaults faults;
  uint32_t busHz{}; // SMBus clock; 100 kHz unless a benchmark says otherwise (0 counts as 100 kHz)
  uint64_t transactions{}, reads{}, writes{}, failures{};
  uint64_t rejected{};  // calls refused before reaching the bus (see above)
  uint64_t busBits{};   // bit times spent on the bus
  uint64_t busMicros{}; // modelled time spent on the bus: busBits at busHz, rounded down
  void (*observer)(void *context, const Transaction &t){};
  void *observerContext{};
};

static_assert(offsetof(SimBus, protocol) == 0, "Execute finds the bus through its protocol");

// Bit times of one byte-data transaction: start, address, command, data, stop (write) and with a
// repeated start and a second address byte (read).
constexpr uint32_t kWriteByteBits = 29;
constexpr uint32_t kReadByteBits = 39;

// Whether `faults` make transaction `index` fail.
bool FaultFails(const BusFaults &faults, uint64_t index);

// Fills in the protocol and sets everything else to its start value: no faults, 100 kHz, counters
// 0, no observer.
void BusInit(SimBus &bus, BridgeChip *chip);
// Zeroes the counters and the bus time, so transaction indices (and faults) count from 0 again.
void BusResetCounters(SimBus &bus);

// Microseconds that `bits` bit times take at `hz`, rounded down.
uint64_t BusBitsToMicros(uint64_t bits, uint32_t hz);

} // namespace sim

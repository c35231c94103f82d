// The simulated SMBus host controller: EFI_SMBUS_HC_PROTOCOL with the bridge chip model behind
// it, a transaction trace hook, modelled bus time and transaction-level fault injection.
// Freestanding, like the chip model.
#pragma once

#include "sim/bridge_chip.h"
#include "uefi/protocols.h"

namespace sim {

enum class Op : uint8_t { Read, Write };

struct Transaction {
  uint64_t index; // 0-based position in the run
  Op op;
  uint8_t bank; // bank selected when the transaction was issued
  uint8_t reg;
  uint8_t value; // byte written, or byte returned to the caller
  bool failed;
  uint64_t timeMicros; // simulated time at the start of the transaction
};

struct BusFaults {
  uint64_t failFrom = kNever;   // every transaction from this index on fails
  uint64_t failOnce = kNever;   // this one transaction fails
  uint64_t flipReadAt = kNever; // this read returns its byte with flipMask toggled
  uint8_t flipMask = 0x01;
  uint64_t ignoreWriteAt = kNever; // the chip ignores this one write (the call succeeds)
};

struct SimBus {
  EFI_SMBUS_HC_PROTOCOL protocol; // first member: Execute casts This back to the SimBus
  BridgeChip *chip;
  BusFaults faults;
  uint32_t busHz; // SMBus clock; 100 kHz unless a benchmark says otherwise
  uint64_t transactions, reads, writes, failures;
  uint64_t busMicros; // modelled time spent on the bus
  void (*observer)(void *context, const Transaction &t);
  void *observerContext;
};

// Bit times of one byte-data transaction: start, address, command, data, stop (write) and with a
// repeated start and a second address byte (read).
constexpr uint32_t kWriteByteBits = 29;
constexpr uint32_t kReadByteBits = 39;

void BusInit(SimBus &bus, BridgeChip *chip);

} // namespace sim

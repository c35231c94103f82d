#include "sim/sim_bus.h"

namespace sim {
namespace {

// `length` keeps the protocol's type: it is in/out there, though only read here.
EFI_STATUS EFIAPI Execute(const EFI_SMBUS_HC_PROTOCOL *This, EFI_SMBUS_DEVICE_ADDRESS slaveAddress,
                          UINTN command, EFI_SMBUS_OPERATION operation, BOOLEAN /*pecCheck*/,
                          UINTN *length, // NOLINT(readability-non-const-parameter)
                          void *buffer) {
  if (This == nullptr)
    return EFI_INVALID_PARAMETER;
  // The protocol is the bus's first member.
  SimBus &bus = *reinterpret_cast<SimBus *>(const_cast<EFI_SMBUS_HC_PROTOCOL *>(This));
  bool read = operation == EfiSmbusReadByte;
  if ((!read && operation != EfiSmbusWriteByte) || length == nullptr || buffer == nullptr ||
      *length != 1 || command > 0xFF) {
    ++bus.rejected;
    return EFI_INVALID_PARAMETER;
  }
  if ((slaveAddress & 0x7F) != kChipAddress || bus.chip == nullptr) {
    ++bus.rejected;
    return EFI_DEVICE_ERROR;
  }

  Transaction t{};
  t.index = bus.transactions++;
  t.op = read ? Op::Read : Op::Write;
  t.bank = bus.chip->bank;
  t.reg = static_cast<uint8_t>(command);
  t.timeMicros = gSimNowMicros;
  t.failed = FaultFails(bus.faults, t.index);
  uint8_t *byte = static_cast<uint8_t *>(buffer);

  // The transfer takes its bus time whether it succeeds or not; the chip acts at the stop.
  // Whole microseconds follow the bit count, so no rounding error builds up at 400 kHz.
  uint64_t before = bus.busMicros;
  bus.busBits += read ? kReadByteBits : kWriteByteBits;
  uint64_t after = BusBitsToMicros(bus.busBits, bus.busHz);
  if (after > before) { // a clock lowered mid-run must not run time backwards
    gSimNowMicros += after - before;
    bus.busMicros = after;
  }

  if (read)
    ++bus.reads;
  else
    ++bus.writes;
  if (t.failed) {
    ++bus.failures;
    gSimNowMicros += bus.faults.failureMicros;
    t.value = *byte;
  } else if (read) {
    uint8_t value = ChipRead(*bus.chip, t.reg);
    if (t.index == bus.faults.flipReadAt)
      value = static_cast<uint8_t>(value ^ bus.faults.flipMask);
    *byte = value;
    t.value = value;
  } else {
    t.value = *byte;
    if (t.index != bus.faults.ignoreWriteAt)
      ChipWrite(*bus.chip, t.reg, t.value);
  }
  if (bus.observer)
    bus.observer(bus.observerContext, t);
  return t.failed ? EFI_DEVICE_ERROR : EFI_SUCCESS;
}

} // namespace

bool FaultFails(const BusFaults &faults, uint64_t index) {
  if (index >= faults.failFrom)
    return true;
  if (index >= faults.failAlternateFrom && (index - faults.failAlternateFrom) % 2 == 0)
    return true;
  for (uint32_t low = 0, high = faults.failAtCount; low < high;) {
    const uint32_t middle = low + (high - low) / 2;
    if (faults.failAt[middle] == index)
      return true;
    if (faults.failAt[middle] < index)
      low = middle + 1;
    else
      high = middle;
  }
  if (faults.failOnce == kNever || index < faults.failOnce)
    return false;
  const uint64_t after = index - faults.failOnce;
  const uint64_t stride = faults.failStride == 0 ? 1 : faults.failStride;
  return after % stride == 0 && after / stride <= faults.failAgain;
}

uint64_t BusBitsToMicros(uint64_t bits, uint32_t hz) {
  if (hz == 0)
    hz = kDefaultBusHz;
  // Nanoseconds first: at 400 kHz a bit is 2.5 us.
  return bits * 1000000000ull / hz / 1000ull;
}

void BusInit(SimBus &bus, BridgeChip *chip) {
  bus.protocol.Execute = Execute;
  bus.protocol.ArpDevice = nullptr;
  bus.protocol.GetArpMap = nullptr;
  bus.protocol.Notify = nullptr;
  bus.chip = chip;
  bus.faults = BusFaults{};
  bus.busHz = kDefaultBusHz;
  bus.observer = nullptr;
  bus.observerContext = nullptr;
  BusResetCounters(bus);
}

void BusResetCounters(SimBus &bus) {
  bus.transactions = 0;
  bus.reads = 0;
  bus.writes = 0;
  bus.failures = 0;
  bus.rejected = 0;
  bus.busBits = 0;
  bus.busMicros = 0;
}

} // namespace sim

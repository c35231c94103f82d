// The simulated SMBus controller: what Execute accepts, the trace, faults by transaction index and
// modelled bus time.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "sim/sim_bus.h"

namespace {

class Bus : public ::testing::Test {
protected:
  void SetUp() override {
    sim::gSimNowMicros = 0;
    sim::ChipPowerOn(chip, sim::ChipConfig{});
    sim::BusInit(bus, &chip);
    bus.observer = [](void *context, const sim::Transaction &t) {
      static_cast<std::vector<sim::Transaction> *>(context)->push_back(t);
    };
    bus.observerContext = &trace;
  }
  EFI_STATUS Call(UINTN address, UINTN command, EFI_SMBUS_OPERATION op, UINTN length,
                  uint8_t *buffer) {
    return bus.protocol.Execute(&bus.protocol, address, command, op, 0, &length, buffer);
  }
  EFI_STATUS Write(uint8_t reg, uint8_t value) {
    return Call(0x2B, reg, EfiSmbusWriteByte, 1, &value);
  }
  EFI_STATUS Read(uint8_t reg, uint8_t &value) {
    return Call(0x2B, reg, EfiSmbusReadByte, 1, &value);
  }

  std::unique_ptr<sim::BridgeChip> owner = std::make_unique<sim::BridgeChip>();
  sim::BridgeChip &chip = *owner;
  sim::SimBus bus;
  std::vector<sim::Transaction> trace;
};

TEST_F(Bus, AcceptsOnlyByteReadsAndWritesToTheChip) {
  uint8_t b = 0x55;
  EXPECT_EQ(Call(0x2B, 0xFF, static_cast<EFI_SMBUS_OPERATION>(6), 1, &b), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Call(0x2B, 0xFF, EfiSmbusSendByte, 1, &b), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Call(0x2B, 0xFF, EfiSmbusWriteByte, 2, &b), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Call(0x2B, 0x100, EfiSmbusWriteByte, 1, &b), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Call(0x2B, 0xFF, EfiSmbusWriteByte, 1, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Call(0x2C, 0xFF, EfiSmbusWriteByte, 1, &b), EFI_DEVICE_ERROR);
  EXPECT_EQ(Call(0x56, 0xFF, EfiSmbusReadByte, 1, &b), EFI_DEVICE_ERROR) << "8-bit address";
  EXPECT_EQ(b, 0x55);
  EXPECT_EQ(chip.bank, 0) << "the chip saw nothing";
  EXPECT_EQ(bus.rejected, 7u);
  EXPECT_EQ(bus.transactions, 0u);
  EXPECT_EQ(sim::gSimNowMicros, 0u);
  EXPECT_TRUE(trace.empty());

  sim::BusInit(bus, nullptr); // a bus with nothing on it
  EXPECT_EQ(Write(0xFF, 0x80), EFI_DEVICE_ERROR);
}

TEST_F(Bus, TracesEveryTransaction) {
  ASSERT_EQ(Write(0xFF, 0x80), EFI_SUCCESS);
  ASSERT_EQ(Write(0xEE, 0x01), EFI_SUCCESS);
  ASSERT_EQ(Write(0xFF, 0xA0), EFI_SUCCESS);
  uint8_t high = 0;
  uint8_t low = 0;
  ASSERT_EQ(Read(0x00, high), EFI_SUCCESS);
  ASSERT_EQ(Read(0x01, low), EFI_SUCCESS);
  EXPECT_EQ(high, 0x16);
  EXPECT_EQ(low, 0x05);

  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(trace[0].bank, 0x00) << "bank as selected when the transaction was issued";
  EXPECT_EQ(trace[2].bank, 0x80);
  EXPECT_EQ(trace[3].bank, 0xA0);
  EXPECT_EQ(trace[3].op, sim::Op::Read);
  EXPECT_EQ(trace[3].reg, 0x00);
  EXPECT_EQ(trace[3].value, 0x16);
  EXPECT_EQ(trace[1].op, sim::Op::Write);
  EXPECT_EQ(trace[1].value, 0x01);
  for (uint64_t i = 0; i < trace.size(); ++i) {
    EXPECT_EQ(trace[i].index, i);
    EXPECT_FALSE(trace[i].failed);
  }
  EXPECT_EQ(trace[1].timeMicros, 290u);
  EXPECT_EQ(trace[4].timeMicros, 3 * 290u + 390u);
  EXPECT_EQ(bus.transactions, 5u);
  EXPECT_EQ(bus.writes, 3u);
  EXPECT_EQ(bus.reads, 2u);
}

TEST_F(Bus, FailingTransactionsLeaveBufferAndChipAlone) {
  bus.faults.failOnce = 1;
  bus.faults.failFrom = 3;
  EXPECT_EQ(Write(0xFF, 0x80), EFI_SUCCESS);
  EXPECT_EQ(Write(0xEE, 0x01), EFI_DEVICE_ERROR);
  EXPECT_FALSE(chip.hostAccess);
  EXPECT_EQ(Write(0xEE, 0x01), EFI_SUCCESS);
  EXPECT_TRUE(chip.hostAccess);
  EXPECT_EQ(Write(0xFF, 0xA0), EFI_DEVICE_ERROR);
  EXPECT_EQ(chip.bank, 0x80);
  uint8_t b = 0xFF;
  EXPECT_EQ(Read(0xEE, b), EFI_DEVICE_ERROR);
  EXPECT_EQ(b, 0xFF);
  EXPECT_EQ(bus.failures, 3u);
  EXPECT_EQ(bus.transactions, 5u);
  EXPECT_TRUE(trace[1].failed);
  EXPECT_FALSE(trace[2].failed);
  EXPECT_TRUE(trace[4].failed);
  // A failed transfer still took its time on the bus.
  EXPECT_EQ(sim::gSimNowMicros, 4 * 290u + 390u);

  // A run of single failures, evenly spaced: 10, 13 and 16 fail; every other one from 25; and
  // those listed.
  bus.faults = sim::BusFaults{};
  bus.faults.failOnce = 10;
  bus.faults.failAgain = 2;
  bus.faults.failStride = 3;
  bus.faults.failAlternateFrom = 25;
  const uint64_t listed[] = {0, 7, 8, 20};
  bus.faults.failAt = listed;
  bus.faults.failAtCount = 4;
  std::vector<uint64_t> failed;
  for (uint64_t i = 0; i < 30; ++i)
    if (sim::FaultFails(bus.faults, i))
      failed.push_back(i);
  EXPECT_EQ(failed, (std::vector<uint64_t>{0, 7, 8, 10, 13, 16, 20, 25, 27, 29}));
}

TEST_F(Bus, FlippedReadAndIgnoredWrite) {
  bus.faults.flipReadAt = 3;
  bus.faults.flipMask = 0x30;
  bus.faults.ignoreWriteAt = 4;
  Write(0xFF, 0x80), Write(0xEE, 0x01), Write(0xFF, 0xD2);
  uint8_t cid = 0;
  EXPECT_EQ(Read(0x0C, cid), EFI_SUCCESS);
  EXPECT_EQ(cid, 2 ^ 0x30);
  EXPECT_EQ(trace[3].value, 2 ^ 0x30) << "the trace shows what the caller got";
  EXPECT_EQ(Write(0xFF, 0x80), EFI_SUCCESS);
  EXPECT_EQ(chip.bank, 0xD2) << "the chip did not see write 4";
  EXPECT_EQ(Read(0x0C, cid), EFI_SUCCESS);
  EXPECT_EQ(cid, 2);
}

TEST_F(Bus, ResetCountersRestartsIndicesForFaults) {
  bus.faults.failOnce = 0;
  EXPECT_EQ(Write(0x10, 1), EFI_DEVICE_ERROR);
  EXPECT_EQ(Write(0x10, 1), EFI_SUCCESS);
  sim::BusResetCounters(bus);
  EXPECT_EQ(bus.transactions, 0u);
  EXPECT_EQ(bus.busMicros, 0u);
  EXPECT_EQ(Write(0x10, 1), EFI_DEVICE_ERROR);
}

TEST_F(Bus, ModelledTimeAt100And400Kilohertz) {
  for (int i = 0; i < 10; ++i)
    Write(0x10, 0);
  uint8_t b = 0;
  for (int i = 0; i < 10; ++i)
    Read(0x10, b);
  EXPECT_EQ(bus.busMicros, 10 * 290u + 10 * 390u);
  EXPECT_EQ(sim::gSimNowMicros, bus.busMicros);

  sim::gSimNowMicros = 0;
  sim::BusResetCounters(bus);
  bus.busHz = 400000; // 2.5 us per bit: 72.5 us per write, 97.5 us per read
  Write(0x10, 0);
  EXPECT_EQ(sim::gSimNowMicros, 72u);
  Write(0x10, 0);
  EXPECT_EQ(sim::gSimNowMicros, 145u) << "the half microseconds must not be lost";
  Read(0x10, b);
  Read(0x10, b);
  EXPECT_EQ(sim::gSimNowMicros, 340u);
  for (int i = 0; i < 1000; ++i)
    Write(0x10, 0);
  EXPECT_EQ(sim::gSimNowMicros, 340u + 72500u);
  EXPECT_EQ(bus.busMicros, sim::gSimNowMicros);
  EXPECT_EQ(sim::BusBitsToMicros(29, 400000), 72u);
}

} // namespace

// The bench's own parts: the floor it holds the tool against, counted by hand here, the search
// for the key-area read-back in a trace, and the replay the restore margin is measured with.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "chip/flash_layout.h"
#include "tests/bench/floor.h"
#include "tests/bench/margin.h"
#include "tests/bench/measure.h"
#include "tests/host/register_lists.h"
#include "tests/sweep/sweep_run.h"
#include "update/key_custody.h"

namespace {

TEST(BenchFloor, CountsTheLongestImageByHand) {
  EXPECT_EQ(PagesFor(17344), 1084u);
  EXPECT_EQ(PagesFor(17381), 1087u);
  // Fixed part: 3 + 2 + 3 + 8 writes, three key-area reads (two saves, the read-back) of 172
  // writes and 286 reads each, erase 10, the firmware and read-back routines' preamble and
  // postamble 10 each, key write 10 + 18 * 26. Per page: 28 + 9 writes; one read per image byte.
  const BusCount total = FloorTotal(17381);
  EXPECT_EQ(total.writes, 1040u + 1087u * 37u);
  EXPECT_EQ(total.reads, 3u + 2u + 2u * 286u + 17381u + 286u);
  // The bench measures the run's tail from the last preamble on against the last step.
  const std::vector<FloorStep> steps = FloorSteps(17381);
  EXPECT_STREQ(steps.back().name, "key-area read-back");
  EXPECT_EQ(steps.back().count, (BusCount{172, 286}));
  EXPECT_EQ(FloorKeyReadBack(), (BusCount{172, 286}));
}

sim::Transaction Write(uint8_t reg, uint8_t value) {
  return {0, sim::Op::Write, 0x80, reg, value, false, 0};
}
sim::Transaction Read(uint8_t reg) {
  return {0, sim::Op::Read, 0x80, reg, 0, false, 0};
}
void AddPreamble(std::vector<sim::Transaction> &trace) {
  for (const ExpectedWrite &w : kFlashPreamble)
    trace.push_back(Write(w.reg, w.value));
}

TEST(BenchKeyReadBack, CountsFromTheLastPreambleOn) {
  std::vector<sim::Transaction> trace;
  AddPreamble(trace);
  trace.push_back(Read(0x5F));
  AddPreamble(trace);
  trace.push_back(Write(0x5E, 0x6F));
  trace.push_back(Read(0x5F));
  trace.push_back(Read(0x5F));
  EXPECT_EQ(KeyReadBack(trace), (BusCount{9, 2}));
  // A preamble cut short at the end is no preamble: the last whole one still counts.
  trace.push_back(Write(0xFF, 0x80));
  trace.push_back(Write(0xEE, 0x01));
  EXPECT_EQ(KeyReadBack(trace), (BusCount{11, 2}));
  // One write differing is no preamble either, and no preamble at all counts nothing.
  trace.clear();
  AddPreamble(trace);
  trace[6].value = 0x8A;
  trace.push_back(Read(0x5F));
  EXPECT_EQ(KeyReadBack(trace), BusCount{});
}

// The margin replays the write-back onto a copy of the chip; a whole run with the same four
// failed writes (the first data byte of pages 0-3) must leave the same damage.
TEST(BenchMargin, ReplayAgreesWithAWholeRun) {
  const uint64_t writeBack =
      sweep::LearntReference("2:6").phaseStart[static_cast<int>(sweep::Phase::KeyWrite)];
  uint32_t foreign = 0;
  {
    sim::HostOptions o;
    o.faults.failOnce = writeBack + 12;
    o.faults.failAgain = 3;
    o.faults.failStride = 26;
    sim::HostPlatform p(o);
    EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 248);
    uint8_t found[kHdcpKeySize];
    uint8_t key[kHdcpKeySize];
    std::copy_n(p.Chip().flash + kHdcpKeyAddress, kHdcpKeySize, found);
    std::copy_n(p.Chip().originalKeyArea, kHdcpKeySize, key);
    foreign = ForeignBytes(found, key);
  }
  EXPECT_GT(foreign, 32u);
  EXPECT_EQ(MeasureRestoreMargin(4, 1, 1).back().pagesForeign, foreign);
  EXPECT_LT(Log10ChanceWithin(143), -60);
}

} // namespace

// The whole-run tests are only as good as the text they compare: a fold must never hide a
// difference other than the page data and address it is meant to mask.
#include <gtest/gtest.h>

#include "event_text.h"

namespace {

sim::Event Write(uint8_t reg, uint8_t value) {
  return sim::Transaction{0, sim::Op::Write, 0x80, reg, value, false, 0};
}

// A page: mode, address, two data bytes.
std::vector<sim::Event> Page(uint8_t mode, uint8_t address, uint8_t data) {
  return {Write(0x5E, mode), Write(0x5D, address), Write(0x59, data), Write(0x59, data + 1)};
}

std::string Text(std::initializer_list<std::vector<sim::Event>> parts) {
  std::vector<sim::Event> events;
  for (const auto &p : parts)
    events.insert(events.end(), p.begin(), p.end());
  return EventText(events);
}

TEST(EventText, FoldsPagesThatDifferOnlyInDataAndAddress) {
  EXPECT_EQ(Text({Page(0xEF, 0x00, 1), Page(0xEF, 0x10, 7), Page(0xEF, 0x20, 9)}), R"(3 x {
  W 5E EF
  W 5D ..
  2 x W 59 ..
}
)");
}

TEST(EventText, AnyOtherDifferenceStaysInSight) {
  EXPECT_EQ(Text({Page(0xEF, 0x00, 1), Page(0xEF, 0x10, 7), Page(0xE0, 0x20, 9)}), R"(2 x {
  W 5E EF
  W 5D ..
  2 x W 59 ..
}
W 5E E0
W 5D 20
2 x W 59 ..
)");
  // Outside the flash controller's bank the same registers are plain registers.
  sim::Event other = sim::Transaction{0, sim::Op::Write, 0x90, 0x59, 0x01, false, 0};
  sim::Event again = sim::Transaction{0, sim::Op::Write, 0x90, 0x59, 0x02, false, 0};
  EXPECT_EQ(EventText({other, again}), "W 59 01\nW 59 02\n");
}

TEST(EventText, PrintsAndCmosWritesReadAsOneLineEach) {
  const std::vector<sim::Event> events = {
      sim::PoolCall{true, 642, EFI_SUCCESS},
      sim::ConsoleCall{sim::ConsoleOp::OutputString, 0, 0, u"a \"b\"\r\n\u00e9"},
      sim::PoolCall{false, 642, EFI_SUCCESS},
      sim::PortAccess{0x70, true, 0x79},
      sim::PortAccess{0x71, true, 0xF2},
      sim::PortAccess{0x70, true, 0x79},
      sim::PortAccess{0x71, false, 0xF2},
      sim::PortAccess{0x66, true, 0x8B},
      sim::PoolCall{true, 642, EFI_OUT_OF_RESOURCES},
  };
  EXPECT_EQ(EventText(events), R"(print "a \"b\"\r\n\u00E9"
cmos[79] = F2
ec 8B
alloc 642 -> Out of Resources
)");
}

} // namespace

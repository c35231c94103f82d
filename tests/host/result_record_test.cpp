// The result record an operating system reads after a /f run: its line for every way a run that
// searched the bus can end, and nothing else changed by it.
#include <gtest/gtest.h>

#include "app/result_record.h"
#include "records.h"
#include "sim/host/host_platform.h"

namespace {

const std::string kTime = " time=2026-12-09T14:30:05";

std::string StoredRecord(const sim::HostPlatform &p) {
  const sim::StoredVariable *v = p.FindVariable(kResultRecordName, kResultRecordGuid);
  if (v == nullptr)
    return "(none)";
  EXPECT_EQ(v->attributes, 0x7u); // non-volatile, runtime access: the OS reads it
  return std::string(v->data.begin(), v->data.end());
}

TEST(ResultRecord, EveryEndOfARunThatSearchedTheBus) {
  struct Case {
    const char *what = "";
    std::vector<std::string> args;
    sim::HostOptions options;
    std::string record;
  };
  const std::string two6 = "panelup-result/2 cid=2 pid=6 ";
  std::vector<Case> cases(8);
  cases[0] = {"passed",
              {"/f", "2", "6"},
              {},
              two6 + "exit=0 from=02.06.12 to=02.06.19" + kTime + RecordTail("return", 1)};
  cases[1] = {"compare failed, CID 258 recorded as the 2 it selected",
              {"/f", "258", "6"},
              {},
              two6 + "exit=248 from=02.06.12 to=02.06.19" + kTime + RecordTail("return", 1)};
  cases[1].options.chip.stuckAddress = 0;
  cases[2] = {"blank key area",
              {"/f", "2", "6"},
              {},
              two6 + "exit=254 from=02.06.12 to=02.06.19" + kTime + RecordTail("return", 0)};
  cases[2].options.chip.blankKeyArea = true;
  cases[3] = {"another chip",
              {"/f", "2", "6"},
              {},
              two6 + "exit=255 from=02.06.12 to=02.06.19" + kTime + RecordTail("return", 0)};
  cases[3].options.chip.idLow = 0x06;
  cases[4] = {"no bus",
              {"/f", "2", "6"},
              {},
              two6 + "exit=24 from=none to=none" + kTime + RecordTail("return", 0)};
  cases[4].options.smbusControllers = 0;
  cases[5] = {"no clock",
              {"/f", "9", "9"},
              {},
              "panelup-result/2 cid=9 pid=9 exit=0 from=02.06.12 to=02.04.10 time=none" +
                  RecordTail("return", 1)};
  cases[5].options.getTimeFails = true;
  cases[6] = {"a clock no calendar has",
              {"/f", "2", "6"},
              {},
              two6 + "exit=0 from=02.06.12 to=02.06.19 time=none" + RecordTail("return", 1)};
  cases[6].options.clock.Month = 13;
  cases[7] = {"not an update", {"/q", "2", "6"}, {}, "(none)"};
  for (Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::HostPlatform p(c.options);
    std::vector<std::string> args{"Panelup.efi"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    p.Run(args);
    EXPECT_EQ(StoredRecord(p), c.record);
  }
}

// Only dates the calendar has: day 31 and 29 February where the month and year have them.
TEST(ResultRecord, TimeOnlyOnACalendarDate) {
  struct Case {
    uint16_t year;
    uint8_t month;
    uint8_t day;
    const char *time;
  };
  const Case cases[] = {
      {2024, 2, 31, "none"},
      {2023, 2, 29, "none"},
      {2024, 2, 29, "2024-02-29T14:30:05"},
      {1900, 2, 29, "none"},
      {2000, 2, 29, "2000-02-29T14:30:05"},
      {2026, 4, 31, "none"},
      {2026, 4, 30, "2026-04-30T14:30:05"},
      {2023, 12, 31, "2023-12-31T14:30:05"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" +
                 std::to_string(c.day));
    sim::HostOptions o;
    o.smbusControllers = 0; // the record of a run that found no bus is the quickest
    o.clock.Year = c.year;
    o.clock.Month = c.month;
    o.clock.Day = c.day;
    sim::HostPlatform p(o);
    p.Run({"Panelup.efi", "/f", "2", "6"});
    EXPECT_EQ(StoredRecord(p),
              std::string("panelup-result/2 cid=2 pid=6 exit=24 from=none to=none time=") + c.time +
                  RecordTail("return", 0));
  }
}

// A store that refuses the record leaves the run as it was: the same screen, status and output,
// and no record, not even an older run's of other attributes. Another chip's run stores nothing
// before the record (the key-area custody does), so the full store touches the record alone.
TEST(ResultRecord, AStoreThatRefusesItChangesNothing) {
  sim::HostOptions o;
  o.chip.idLow = 0x06;
  std::string text;
  {
    sim::HostPlatform p(o);
    EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 255);
    text = p.OutputText() + p.ScreenText();
  }
  o.variableStoreFull = true;
  sim::HostPlatform p(o);
  // An older run's record, boot-service access only: another build's, or planted.
  const std::string old = "panelup-result/1 cid=2 pid=6 exit=248 from=02.06.12 to=02.06.19 "
                          "time=2025-01-02T03:04:05";
  p.PutVariable({kResultRecordName, kResultRecordGuid, 0x3, {old.begin(), old.end()}});
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 255);
  EXPECT_EQ(StoredRecord(p), "(none)");
  EXPECT_EQ(p.OutputText() + p.ScreenText(), text);
}

} // namespace

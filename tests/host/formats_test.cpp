// The formats Panelup.efi and panelupctl share (formats/): what one side writes, the other reads.
// Every way a /f from a boot option can end, its schedule written by panelupctl's writer and its
// record read by panelupctl's reader; the build mark and the catalogue file the same way.
#include <gtest/gtest.h>

#include <string>

#include "app/build_id.h"
#include "app/result_record.h"
#include "catalogue/catalogue.h"
#include "formats/catalogue_file.h"
#include "formats/exit_status.h"
#include "formats/schedule.h"
#include "panelup_build_id.h"
#include "sim/host/host_platform.h"

namespace {

TEST(Formats, EveryEndOfAScheduledRunReadsBackAsItsResult) {
  struct Case {
    const char *what;
    sim::HostOptions options;
    Schedule schedule;
    int32_t exit;
    bool from;
    bool to;
  };
  std::vector<Case> cases = {
      {"passed, reboot", {}, {BootEnd::Reboot, 3}, kExitOk, true, true},
      {"passed, power cycle", {}, {BootEnd::PowerCycle, 1}, kExitOk, true, true},
      {"compare failed, return", {}, {BootEnd::Return, 2}, kExitCompareFailed, true, true},
      {"blank key area", {}, {BootEnd::Reboot, 3}, kExitStoppedBeforeErase, true, true},
      {"a test image on a real bus",
       {},
       {BootEnd::Reboot, 3},
       kExitStoppedBeforeErase,
       false,
       true},
      {"another chip", {}, {BootEnd::Reboot, 3}, kExitWrongChipOrSwitch, true, true},
      {"no bus, no clock", {}, {BootEnd::Reboot, 3}, kExitBusNotFound, false, false},
  };
  cases[2].options.chip.stuckAddress = 0;
  cases[3].options.chip.blankKeyArea = true;
  cases[4].options.simulatedBusMark = false;
  cases[5].options.chip.idLow = 0x06;
  cases[6].options.smbusControllers = 0;
  cases[6].options.getTimeFails = true;
  for (Case &c : cases) {
    SCOPED_TRACE(c.what);
    c.options.arguments = sim::ArgumentSource::LoadOptions;
    c.options.rawLoadOptions = "/f 2 6";
    sim::HostPlatform p(c.options);
    char schedule[kScheduleBytes] = {};
    const uint32_t length = FormatSchedule(c.schedule, schedule);
    p.PutVariable({kScheduleName, kResultRecordGuid, kScheduleAttributes,
                   std::vector<uint8_t>(schedule, schedule + length)});
    p.Run({"Panelup.efi"});
    EXPECT_EQ(p.FindVariable(kScheduleName, kResultRecordGuid), nullptr); // taken, so trusted
    const sim::StoredVariable *v = p.FindVariable(kResultRecordName, kResultRecordGuid);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->attributes, kRecordAttributes);
    ResultRecord r{};
    ASSERT_EQ(ParseResultRecord(reinterpret_cast<const char *>(v->data.data()),
                                static_cast<uint32_t>(v->data.size()), &r),
              RecordProblem::None)
        << std::string(v->data.begin(), v->data.end());
    EXPECT_EQ(r.form, 2);
    EXPECT_EQ(r.cid, 2);
    EXPECT_EQ(r.pid, 6);
    EXPECT_EQ(r.exit, c.exit);
    EXPECT_EQ(r.hasFrom, c.from);
    EXPECT_EQ(r.hasTo, c.to);
    EXPECT_EQ(r.hasTime, !c.options.getTimeFails);
    EXPECT_EQ(r.then, c.schedule.then);
    EXPECT_LE(r.attempts, c.schedule.attempts);
    EXPECT_STREQ(r.build, PANELUP_BUILD_ID);
  }
}

// Only what a run can write is a result: each field in range, the time a calendar's, the fields
// together as a run leaves them.
TEST(Formats, RecordsNoRunWritesAreProblems) {
  const std::string head = "panelup-result/2 cid=2 pid=6 ";
  const std::string tail = " then=reboot attempts=1 build=1.0.0+g0123456789ab";
  const std::string good = "exit=0 from=02.06.12 to=02.06.19 time=2024-02-29T23:59:59";
  struct Case {
    std::string text;
    RecordProblem problem;
  };
  const Case cases[] = {
      {head + good + tail, RecordProblem::None},
      {head + "exit=4294967296 from=02.06.12 to=02.06.19 time=none" + tail,
       RecordProblem::NotInForm},
      {head + "exit=0 from=02.06.12 to=02.06.19 time=2023-02-29T00:00:00" + tail,
       RecordProblem::NotACalendar},
      {head + "exit=0 from=none to=none time=none" + tail, RecordProblem::NotThisTool},
      {head + "exit=24 from=none to=none time=none then=reboot attempts=1 build=1.0.0+unknown",
       RecordProblem::NotThisTool},
      {head + good + " then=reboot attempts=0 build=1.0.0+unknown", RecordProblem::NotThisTool},
      {head + good + " then=reboot attempts=1 build=1.0.0+g" + std::string(41, 'a'),
       RecordProblem::NotInForm},
      {head + good + tail + " ", RecordProblem::NotInForm},
      {head + good + "\n", RecordProblem::NotText},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    ResultRecord r{};
    EXPECT_EQ(ParseResultRecord(c.text.data(), static_cast<uint32_t>(c.text.size()), &r),
              c.problem);
  }
}

TEST(Formats, ScheduleLinesReadBackAsWritten) {
  for (BootEnd then : {BootEnd::Return, BootEnd::Reboot, BootEnd::PowerCycle})
    for (uint8_t attempts = 1; attempts <= 9; ++attempts) {
      char text[kScheduleBytes] = {};
      const uint32_t length = FormatSchedule({then, attempts}, text);
      Schedule s{};
      ASSERT_TRUE(ParseSchedule(text, length, &s));
      EXPECT_EQ(s.then, then);
      EXPECT_EQ(s.attempts, attempts);
      EXPECT_FALSE(ParseSchedule(text, length - 1, &s)); // no attempts digit
    }
}

TEST(Formats, TheImageMarkAndCatalogueReadBackAsTheBuildWroteThem) {
  const std::string image =
      std::string("\x00\x01 junk ", 8) + kPanelupBuildMark + std::string(1, '\0');
  BuildMark mark{};
  ASSERT_TRUE(FindBuildMark(reinterpret_cast<const uint8_t *>(image.data()), image.size(), &mark));
  EXPECT_STREQ(mark.id, PANELUP_BUILD_ID);
  EXPECT_EQ(mark.genuine, std::string(PANELUP_IMAGES) == "genuine");
  const std::string tests = "panelup-build/1 id=1.0.0+unknown images=tests";
  EXPECT_FALSE(FindBuildMark(reinterpret_cast<const uint8_t *>(tests.data()), tests.size(), &mark));

  for (const CatalogueEntry &e : FirmwareCatalogue) {
    std::string model;
    for (char16_t c : e.model)
      if (c != 0)
        model += static_cast<char>(c);
    char text[kCatalogueLineBytes] = {};
    const uint32_t length = FormatCatalogueEntry(e.cid, e.pid, e.txx, model.c_str(), text);
    ASSERT_GT(length, 1u);
    CatalogueLine line{};
    ParseCatalogueLine(text, length - 1, &line); // without its line end, as read
    EXPECT_TRUE(line.entry && line.hasCid && line.hasPid && line.hasTxx);
    EXPECT_EQ(line.cid, e.cid);
    EXPECT_EQ(line.pid, e.pid);
    EXPECT_EQ(line.txx, e.txx);
    EXPECT_EQ(line.model, model);
  }
}

} // namespace

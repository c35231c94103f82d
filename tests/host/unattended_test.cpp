// /f started from a boot option, where nobody need be at the machine: how the boot ends as the
// schedule asks, a schedule the tool does not trust, the watchdog, a dead bus given up, option
// data in ASCII or in neither form, and failed attempts tried again while the key area is in
// custody. A shell run's whole sequence is in update_sequence_test and command_sequence_test.
#include <gtest/gtest.h>

#include "app/result_record.h"
#include "chip/registers.h"
#include "event_text.h"
#include "records.h"
#include "sim/host/host_platform.h"
#include "update/key_custody.h"

namespace {

const std::u16string kSchedule = u"PanelupSchedule";

sim::HostOptions FromBootOption(const std::string &options = "/f 2 6") {
  sim::HostOptions o;
  o.arguments = sim::ArgumentSource::LoadOptions;
  o.rawLoadOptions = options;
  return o;
}

void PlantSchedule(sim::HostPlatform &p, const std::string &text, uint32_t attributes = 0x7) {
  p.PutVariable({kSchedule, kResultRecordGuid, attributes, {text.begin(), text.end()}});
}

std::string StoredRecord(const sim::HostPlatform &p) {
  const sim::StoredVariable *v = p.FindVariable(kResultRecordName, kResultRecordGuid);
  return v == nullptr ? "(none)" : std::string(v->data.begin(), v->data.end());
}

// The event text from the schedule's read on.
std::string FromSchedule(const sim::HostPlatform &p) {
  const std::string text = EventText(p.Events());
  const size_t at = text.find("GetVariable PanelupSchedule");
  return at == std::string::npos ? "(no schedule read)" : text.substr(at);
}

size_t Count(const std::string &text, const std::string &part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

// The schedule is read and deleted, the end settled (the wake alarm first) before the record, the
// watchdog given back, then the reset as the last thing the run does. Without a bus the update is
// the quickest; how the boot ends does not depend on it.
TEST(Unattended, TheBootEndsAsScheduled) {
  const std::string noBus = "print \"\\r\\n VTQ_001D VTQ_HandleProtocol EFI_PROTOCOL_ERROR= Not "
                            "Found\"\n";
  struct Case {
    const char *then;
    EFI_TIME clock;
    bool alarmFails;
    bool clockFails;
    std::string events; // after the record's delete and the bus search
    std::string recorded;
    int64_t status;
  };
  const EFI_TIME dec9{2026, 12, 9, 14, 30, 5, 0, 0, 0, 0, 0};
  const Case cases[] = {
      {"reboot", dec9, false, false, "print \"\\r\\n VTQ_003C  then=reboot\\r\\n\"\n", "reboot",
       sim::kRunEndedByReset},
      {"power-cycle", dec9, false, false,
       "wakeup on 2026-12-09T14:31:05 -> Success\n"
       "print \"\\r\\n VTQ_003C  then=power-cycle, on again at 2026-12-09T14:31:05\\r\\n\"\n",
       "power-cycle", sim::kRunEndedByReset},
      {"power-cycle",
       {2026, 12, 31, 23, 59, 30, 0, 0, 0, 0, 0},
       false,
       false,
       "wakeup on 2027-01-01T00:00:30 -> Success\n"
       "print \"\\r\\n VTQ_003C  then=power-cycle, on again at 2027-01-01T00:00:30\\r\\n\"\n",
       "power-cycle",
       sim::kRunEndedByReset},
      {"power-cycle", dec9, true, false,
       "wakeup on 2026-12-09T14:31:05 -> Unsupported\n"
       "print \"\\r\\n VTQ_003C  wake alarm NG = Unsupported, then=reboot\\r\\n\"\n",
       "reboot", sim::kRunEndedByReset},
      {"power-cycle", dec9, false, true,
       "print \"\\r\\n VTQ_003C  wake alarm NG = Device Error, then=reboot\\r\\n\"\n", "reboot",
       sim::kRunEndedByReset},
      {"return", dec9, false, false, "", "return", 24},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.then) + (c.alarmFails ? ", alarm refused" : "") +
                 (c.clockFails ? ", no clock" : ""));
    sim::HostOptions o = FromBootOption();
    o.smbusControllers = 0;
    o.clock = c.clock;
    o.setWakeupTimeFails = c.alarmFails;
    o.getTimeFails = c.clockFails;
    sim::HostPlatform p(o);
    PlantSchedule(p, std::string("panelup-schedule/1 then=") + c.then + " attempts=3");
    EXPECT_EQ(p.Run({}), c.status);
    const std::string record = StoredRecord(p);
    const std::string reset = c.status == 24 ? ""
                              : std::string(c.then) == "power-cycle" && c.recorded != "reboot"
                                  ? "reset shutdown\n"
                                  : "reset cold\n";
    EXPECT_EQ(FromSchedule(p), "GetVariable PanelupSchedule (64) -> Success\n"
                               "SetVariable PanelupSchedule 00 (0) -> Success\n"
                               "SetVariable PanelupResult 00 (0) -> Not Found\n" +
                                   noBus + c.events + "SetVariable PanelupResult 07 (" +
                                   std::to_string(record.size()) + ") -> Success\nwatchdog 300\n" +
                                   reset);
    EXPECT_TRUE(record.ends_with(RecordTail(c.recorded, 0))) << record;
    EXPECT_EQ(p.FindVariable(kSchedule, kResultRecordGuid), nullptr);
    EXPECT_TRUE(p.PoolBalanced()) << "everything given back before the reset";
  }
}

// A shell run never reads the schedule, never deletes it and never resets: the operator is there.
TEST(Unattended, AShellRunLeavesTheScheduleAlone) {
  sim::HostOptions o;
  o.smbusControllers = 0;
  sim::HostPlatform p(o);
  PlantSchedule(p, "panelup-schedule/1 then=reboot attempts=3");
  EXPECT_EQ(p.Run({"Panelup.efi", "/f", "2", "6"}), 24);
  EXPECT_EQ(FromSchedule(p), "(no schedule read)");
  EXPECT_NE(p.FindVariable(kSchedule, kResultRecordGuid), nullptr);
  EXPECT_TRUE(p.Recorded<sim::ResetCall>().empty());
  EXPECT_TRUE(StoredRecord(p).ends_with(RecordTail("return", 0)));
}

// Whatever the schedule holds, it is gone after the run; one the tool does not trust (or cannot
// delete, which a reboot would find again) ends the boot as a shell run would, and says so.
TEST(Unattended, AScheduleItDoesNotTrustIsAShellRun) {
  struct Case {
    const char *what;
    std::string text;
    uint32_t attributes;
    bool readFails;
    bool deleteFails;
  };
  const std::string reboot = "panelup-schedule/1 then=reboot attempts=3";
  const Case cases[] = {
      {"boot-service access only", reboot, 0x3, false, false},
      {"no attempt", "panelup-schedule/1 then=reboot attempts=0", 0x7, false, false},
      {"ten attempts", "panelup-schedule/1 then=reboot attempts=10", 0x7, false, false},
      {"an end it does not know", "panelup-schedule/1 then=halt attempts=3", 0x7, false, false},
      {"another version", "panelup-schedule/2 then=reboot attempts=3", 0x7, false, false},
      {"a line end", reboot + "\n", 0x7, false, false},
      {"a NUL", reboot + std::string(1, '\0'), 0x7, false, false},
      {"too long to be one", reboot + std::string(100, ' '), 0x7, false, false},
      {"a store that cannot read it", reboot, 0x7, true, false},
      {"a store that cannot delete it", reboot, 0x7, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    sim::HostOptions o = FromBootOption();
    o.smbusControllers = 0;
    o.getVariableFails = c.readFails;
    o.variableDeletesFail = c.deleteFails;
    sim::HostPlatform p(o);
    PlantSchedule(p, c.text, c.attributes);
    EXPECT_EQ(p.Run({}), 24);
    EXPECT_EQ(
        Count(p.OutputText(), "\r\n VTQ_003B  PanelupSchedule not trusted, then=return attempts=1"),
        1u);
    EXPECT_TRUE(p.Recorded<sim::ResetCall>().empty());
    EXPECT_TRUE(StoredRecord(p).ends_with(RecordTail("return", 0)));
    EXPECT_EQ(p.FindVariable(kSchedule, kResultRecordGuid) == nullptr, !c.deleteFails);
  }
}

// Only /f touches the watchdog: /s and /g leave it as the launcher set it.
TEST(Unattended, OnlyAnUpdateTouchesTheWatchdog) {
  for (const char *command : {"/s", "/g"}) {
    SCOPED_TRACE(command);
    {
      sim::HostPlatform shell;
      shell.Run({"Panelup.efi", command});
      EXPECT_TRUE(shell.Recorded<sim::WatchdogCall>().empty());
    }
    sim::HostPlatform boot(FromBootOption(command));
    boot.Run({});
    EXPECT_TRUE(boot.Recorded<sim::WatchdogCall>().empty());
    EXPECT_EQ(boot.WatchdogSeconds(), 300u);
  }
}

// efibootmgr without -u stores the option's data as ASCII: read as the command. Data that is
// neither UCS-2 nor ASCII text is refused with its own status, before anything else is touched.
// The update from a boot option disarms the watchdog before its first transfer and gives the boot
// manager its five minutes back after the record.
TEST(Unattended, OptionDataInAsciiOrNeither) {
  sim::HostOptions o = FromBootOption();
  o.loadOptionBytes = "/f 2 6";
  {
    sim::HostPlatform p(o);
    EXPECT_EQ(p.Run({}), 0);
    EXPECT_TRUE(FlashHolds(p, 6));
    const std::string text = EventText(p.Events());
    EXPECT_LT(text.find("watchdog 0\n"), text.find("\nW FF 80\n"));
    EXPECT_TRUE(text.ends_with(") -> Success\nwatchdog 300\n")) << text.substr(text.size() - 200);
    EXPECT_EQ(p.Recorded<sim::WatchdogCall>().size(), 2u);
    EXPECT_EQ(p.WatchdogSeconds(), 300u);
    EXPECT_TRUE(StoredRecord(p).ends_with(RecordTail("return", 1)));
  }
  struct Case {
    const char *what;
    std::string bytes;
    int64_t status;
  };
  const Case cases[] = {
      {"ASCII with its NUL", std::string("/s\0", 3), 22},
      {"ASCII with the program name", "Panelup.efi /s", 22},
      {"binary data", std::string("\x01\xFF\x80\x00\x13", 5), 11},
      {"ASCII with more after its NUL", std::string("/s\0\x01", 4), 11},
      {"UCS-2 with a control character", std::string("/\0s\0\x01\0", 6), 11},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    o.loadOptionBytes = c.bytes;
    sim::HostPlatform p(o);
    EXPECT_EQ(p.Run({}), c.status);
    if (c.status != 11)
      continue;
    EXPECT_EQ(EventText(p.Events()),
              "clear\ncursor 1,1\n"
              "print \" KOVA Panelup Utility Version : [ V1.0.0.42-2022-09-09] \\r\\n\"\n"
              "print \"\\r\\n VTQ_003A  boot option data is neither UCS-2 nor ASCII text, "
              "nothing done\\r\\n\"\n");
    EXPECT_EQ(StoredRecord(p), "(none)");
  }
}

// A bus that fails 64 transfers in a row is given up, and so is one that has failed the budget's
// 1,024 in all (here every other transfer, never two in a row, with nine attempts scheduled):
// nothing more goes out, the update fails (the erase is behind it) and is not tried again.
TEST(Unattended, ADeadOrDegradedBusIsGivenUp) {
  for (bool degraded : {false, true}) {
    SCOPED_TRACE(degraded ? "every other transfer fails" : "every transfer fails");
    sim::HostOptions o = FromBootOption();
    if (degraded) {
      o.faults.failOnce = 12000;
      o.faults.failStride = 2;
      o.faults.failAgain = UINT32_MAX;
    } else {
      o.faults.failFrom = 12000;
    }
    sim::HostPlatform p(o);
    PlantSchedule(p, "panelup-schedule/1 then=return attempts=9");
    EXPECT_EQ(p.Run({}), 248);
    EXPECT_EQ(p.Bus().failures, degraded ? kFailureBudget : 64u);
    EXPECT_EQ(p.Bus().transactions, degraded ? 12000u + 2 * kFailureBudget - 1 : 12064u);
    EXPECT_FALSE(Contains(p.OutputText(), "VTQ_002M"));
    EXPECT_TRUE(Contains(p.OutputText(), "VTQ_002J  upgrade Fail"));
    EXPECT_TRUE(StoredRecord(p).ends_with(RecordTail("return", 1)));
  }
}

// From a boot option a failed attempt is tried again, up to the schedule's count (3 without
// one), with the verdict reported once; from the shell, or with a schedule it does not trust,
// there is one attempt, as ever.
TEST(Unattended, AttemptsWhileTheKeyAreaIsInCustody) {
  {
    // One failed transfer in the first attempt's firmware write.
    sim::HostOptions o;
    o.faults.failOnce = 12000;
    {
      sim::HostPlatform shell(o);
      EXPECT_EQ(shell.Run({"Panelup.efi", "/f", "2", "6"}), 248);
      EXPECT_TRUE(StoredRecord(shell).ends_with(RecordTail("return", 1)));
    }
    o = FromBootOption();
    o.faults.failOnce = 12000;
    sim::HostPlatform p(o);
    EXPECT_EQ(p.Run({}), 0);
    const std::string out = p.OutputText();
    EXPECT_EQ(Count(out, "\r\n VTQ_002M  attempt 1 of 3 failed, trying again"), 1u);
    EXPECT_EQ(Count(out, "VTQ_002J  upgrade success"), 1u);
    EXPECT_FALSE(Contains(out, "upgrade Fail"));
    EXPECT_EQ(p.EcBytes(), (std::vector<uint8_t>{0x8B, 0x8A}));
    EXPECT_TRUE(FlashHolds(p, 6));
    EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
    EXPECT_EQ(p.FindVariable(kKeyBackupName, kKeyBackupGuid), nullptr);
    EXPECT_TRUE(StoredRecord(p).ends_with(RecordTail("return", 2)));
  }
  // A flash bit that never programs fails every attempt.
  sim::HostOptions o = FromBootOption();
  o.chip.stuckAddress = 0;
  {
    sim::HostPlatform p(o);
    PlantSchedule(p, "panelup-schedule/1 then=return attempts=2");
    EXPECT_EQ(p.Run({}), 248);
    const std::string out = p.OutputText();
    EXPECT_EQ(Count(out, "VTQ_005B Compare ReadFirmware[0000]"), 2u);
    EXPECT_EQ(Count(out, "VTQ_002M"), 1u);
    EXPECT_EQ(Count(out, "VTQ_002J  upgrade Fail"), 1u);
    EXPECT_EQ(p.EcBytes(), (std::vector<uint8_t>{0x8B, 0x8C}));
    EXPECT_EQ(p.StatusCodes(), (std::vector<uint8_t>{0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF4, 0xF5,
                                                     0xF6, 0xF7, 0xF8, 0xFF}));
    EXPECT_EQ(p.Cmos(0x72), 12) << "CMOS keeps the version found before";
    EXPECT_TRUE(StoredRecord(p).ends_with(RecordTail("return", 2)));
  }
  sim::HostPlatform p(o);
  PlantSchedule(p, "panelup-schedule/1 then=return attempts=9", 0x3);
  EXPECT_EQ(p.Run({}), 248);
  EXPECT_FALSE(Contains(p.OutputText(), "VTQ_002M"));
  EXPECT_TRUE(StoredRecord(p).ends_with(RecordTail("return", 1)));
}

} // namespace

// The sweep is only as good as its rules, its phase map and its choice of runs: a rule that
// cannot fire would let a false success through every one of its runs, and a slice that drops
// indices would leave them untried without a word.
#include <gtest/gtest.h>

#include <set>

#include "chip/registers.h"
#include "tests/sweep/sweep_rules.h"
#include "tests/sweep/sweep_run.h"

namespace {

using namespace sweep;

const Reference &TwoSix() {
  return LearntReference("2:6");
}

// What a clean /f 2 6 from 2.6.12 leaves behind, and a clean retry had one been needed.
RunFacts Succeeded() {
  RunFacts f;
  f.status = 0;
  f.struck = true;
  f.poolBalanced = true;
  f.text = "\n VTQ_001 LT7911D FW [ CID_PID_Txx ] flash from [ 02.06.12 ] to [ 02.06.19 ] "
           "\n VTQ_002J  upgrade success";
  f.ec = {0x8B, 0x8A};
  f.statusCodes = {0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF0, 0xFF};
  f.cmosStatus = 0xFF;
  f.cmosVersion = {2, 6, 19};
  f.flashHoldsImage = f.keyIntact = true;
  f.erases = 1;
  f.retry.success = f.retry.flashHoldsImage = f.retry.keyIntact = true;
  return f;
}

RunFacts Failed() {
  RunFacts f = Succeeded();
  f.backup = Backup::Original;
  f.retry.restored = true;
  f.status = 248;
  f.text = "\n VTQ_001 LT7911D FW [ CID_PID_Txx ] flash from [ 03.06.12 ] to [ 02.06.19 ] "
           "\n VTQ_002J  upgrade Fail";
  f.ec = {0x8B, 0x8C};
  f.statusCodes = {0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xFF};
  f.cmosVersion = {3, 6, 12}; // as printed, even when a flipped read made it up
  f.flashHoldsImage = false;
  return f;
}

// A cut after the erase, the backup lost, and a retry that stopped on the blank key area.
RunFacts BlankAfterLostBackup() {
  RunFacts f = Failed();
  f.backupLost = true;
  f.retry.status = 254;
  f.retry.lostStop = true;
  f.retry.success = f.retry.restored = f.retry.keyIntact = false;
  return f;
}

RunFacts ChipIdFailed() {
  RunFacts f = Succeeded();
  f.status = 255;
  f.text = "\n VTQ_001 LT7911D FW [ CID_PID_Txx ] flash from [ 02.06.12 ] to [ 02.06.19 ] "
           "\nVTQ_001   Read chipid fail(chipid[1604] !=0x1605),please check hardware"
           "\n VTQ_002L  the chip offline";
  f.ec = {0x8B};
  f.statusCodes = {0xF9};
  f.cmosStatus = 0xF9;
  f.cmosVersion = {2, 6, 12};
  f.flashHoldsImage = false;
  f.flashUntouched = true;
  f.erases = 0;
  return f;
}

RunFacts NotErased() {
  RunFacts f = ChipIdFailed();
  f.status = 254;
  f.text = "\n VTQ_001 LT7911D FW [ CID_PID_Txx ] flash from [ 02.06.12 ] to [ 02.06.19 ] "
           "\n VTQ_002K  SaveHdcpKeyFromFlash unstable, flash not erased";
  f.statusCodes = {0xF2, 0xF9};
  return f;
}

TEST(SweepReference, PhasesStartWhereTheRegisterListsPutThem) {
  const Reference &r = TwoSix();
  // Version: access 2 + bank 1 + reads 3 + release 2. Chip id: 2 + 1 + 2. ConfigPara: 8.
  // Key save, twice: preamble 8, 18 pages of 9 writes, 286 reads, postamble 2. Erase: 10.
  // Firmware: preamble 8, 928 pages of 28, postamble 2. Key write: 8 + 18 x 26 + 2.
  // Firmware read: 8 + 928 x 9 + 14840 reads + 2. Key read-back as the key save.
  const std::array<uint64_t, kPhases> starts = {0, 8, 13, 21, 937, 947, 26941, 27419, 50621};
  EXPECT_EQ(r.phaseStart, starts);
  EXPECT_EQ(r.transactions, 51079u);
  EXPECT_EQ(r.PhaseOf(936), Phase::KeySave);
  EXPECT_EQ(r.PhaseOf(937), Phase::Erase);
  EXPECT_EQ(r.PhaseOf(51078), Phase::KeyRead);
}

TEST(SweepRules, ConsistentOutcomesPass) {
  for (const RunFacts &f : {Succeeded(), Failed(), ChipIdFailed(), NotErased()}) {
    Verdict v = Judge(TwoSix().target, f);
    EXPECT_TRUE(v.violations.empty()) << f.status << ": " << v.violations[0];
    EXPECT_FALSE(v.falseSuccess);
  }
}

TEST(SweepRules, SuccessWithoutTheImageOrTheKeyAreaIsFalse) {
  RunFacts noImage = Succeeded();
  noImage.flashHoldsImage = false;
  Verdict v = Judge(TwoSix().target, noImage);
  EXPECT_TRUE(v.falseSuccess);
  EXPECT_FALSE(v.violations.empty());

  RunFacts noKey = Succeeded();
  noKey.keyIntact = false;
  v = Judge(TwoSix().target, noKey);
  EXPECT_TRUE(v.falseSuccess && v.keyLost);
  ASSERT_EQ(v.violations.size(), 2u);
  EXPECT_NE(v.violations[0].find("key area"), std::string::npos) << v.violations[0];
}

TEST(SweepRules, BackupAndRetryMustEndWithTheChipsOwnKeyArea) {
  const Target &target = TwoSix().target;
  RunFacts leftBehind = Succeeded();
  leftBehind.backup = Backup::Original;
  EXPECT_FALSE(Judge(target, leftBehind).violations.empty());
  RunFacts noBackup = Failed();
  noBackup.backup = Backup::None;
  EXPECT_FALSE(Judge(target, noBackup).violations.empty());
  RunFacts stored = NotErased();
  stored.backup = Backup::Original;
  EXPECT_FALSE(Judge(target, stored).violations.empty());
  RunFacts erased = NotErased();
  erased.flashUntouched = false;
  EXPECT_FALSE(Judge(target, erased).violations.empty());

  std::vector<RunFacts> badRetries(7, Failed());
  badRetries[0].retry.keyIntact = false;
  badRetries[1].retry.status = 248;
  // Without the backup: a success with the blank area as the key, a stop that erased first or
  // came without the blank-area message, or one where nothing was lost.
  for (size_t i = 2; i < 6; ++i)
    badRetries[i] = BlankAfterLostBackup();
  badRetries[2].retry.status = 0;
  badRetries[2].retry.success = badRetries[2].retry.flashHoldsImage = true;
  badRetries[3].retry.erases = 1;
  badRetries[4].retry.lostStop = false;
  badRetries[5].retry.keyIntact = true;
  badRetries[6].retry.backup = Backup::Original;
  for (size_t i = 0; i < badRetries.size(); ++i) {
    Verdict v = Judge(target, badRetries[i]);
    EXPECT_FALSE(v.violations.empty()) << i;
    EXPECT_EQ(v.retryFailed, i < 6) << i;
  }
  Verdict v = Judge(target, Failed());
  EXPECT_TRUE(v.retryRestored && !v.retryFailed);
  v = Judge(target, BlankAfterLostBackup());
  EXPECT_TRUE(v.retryLost && !v.retryFailed && v.violations.empty());
}

TEST(SweepRules, EachSignOfTheOutcomeMustAgree) {
  const Target &target = TwoSix().target;
  std::vector<RunFacts> broken(10, Succeeded());
  broken[0].ec = {0x8B, 0x8C};
  broken[1].statusCodes.back() = 0xF8;
  broken[2].cmosVersion = {2, 6, 12};
  broken[3].text += " upgrade Fail";
  broken[4].poolBalanced = false;
  broken[5].struck = false;
  broken[6].status = 24;
  broken[7] = Failed();
  broken[7].cmosVersion = {2, 6, 12}; // not the version the run printed
  broken[8] = ChipIdFailed();
  broken[8].erases = 1;
  broken[9] = Failed();
  broken[9].mustSucceed = true; // an unattended run whose last attempt was clean
  for (size_t i = 0; i < broken.size(); ++i)
    EXPECT_FALSE(Judge(target, broken[i]).violations.empty()) << i;

  RunFacts keyLost = Failed();
  keyLost.keyIntact = false;
  EXPECT_TRUE(Judge(target, keyLost).violations.empty()) << "the retry brings it back";
  keyLost.retry.keyIntact = false;
  EXPECT_TRUE(Judge(target, keyLost).keyLost);
}

// Every run ends within the failure budget; a run the bus never gave a clean read-back must
// fail; another chip's backup must stop every run before the erase, the retry's too, and stay.
TEST(SweepRules, BudgetAndAnotherChipsBackup) {
  const Target &target = TwoSix().target;
  RunFacts foreign = NotErased();
  foreign.planted = Planted::Other;
  foreign.backup = foreign.retry.backup = Backup::Other;
  foreign.retry.status = 254;
  foreign.retry.foreignStop = foreign.retry.keyIntact = true;
  foreign.keyIntact = true;
  const Verdict v = Judge(target, foreign);
  EXPECT_TRUE(v.violations.empty()) << v.violations[0];
  std::vector<RunFacts> broken(5, foreign);
  broken[0].erases = 1;
  broken[1].retry.foreignStop = false;
  broken[2].retry.backup = Backup::None;
  broken[3] = Failed();
  broken[3].busFailures = kFailureBudget + 1;
  broken[4] = Succeeded();
  broken[4].mustFail = true;
  for (size_t i = 0; i < broken.size(); ++i)
    EXPECT_FALSE(Judge(target, broken[i]).violations.empty()) << i;
}

// The slices of a selection run every chosen index once; a draw is the same each time and takes
// only indices the kind can strike.
TEST(SweepCase, SlicesCoverTheSelectionOnce) {
  const Reference &r = TwoSix();
  EXPECT_EQ(Indices(r, FaultKind::IgnoreWrite, Selection{}).size(), 35376u);
  EXPECT_EQ(Indices(r, FaultKind::FlipRead, Selection{}).size(), 15703u);
  const std::vector<uint64_t> writeBack = Indices(r, FaultKind::WriteBackLostRetry, Selection{});
  ASSERT_FALSE(writeBack.empty());
  EXPECT_EQ(r.PhaseOf(writeBack.front()), Phase::KeyWrite);
  EXPECT_EQ(r.PhaseOf(writeBack.back()), Phase::KeyWrite);
  EXPECT_EQ(writeBack.size(), r.phaseStart[static_cast<int>(Phase::FirmwareRead)] -
                                  r.phaseStart[static_cast<int>(Phase::KeyWrite)]);
  const std::vector<uint64_t> attempt = Indices(r, FaultKind::UnattendedRetry, Selection{});
  ASSERT_FALSE(attempt.empty());
  EXPECT_EQ(attempt.front(), r.phaseStart[static_cast<int>(Phase::Erase)]);
  EXPECT_EQ(attempt.size(), r.transactions - attempt.front());
  // Two starts in every phase; with another chip's backup, in the phases before the erase.
  EXPECT_EQ(Indices(r, FaultKind::AlternatePhase, Selection{}).size(), 2u * kPhases);
  EXPECT_EQ(Indices(r, FaultKind::AlternatePhaseOtherBackup, Selection{}).back(),
            r.phaseStart[static_cast<int>(Phase::KeySave)] + 1);
  const std::vector<uint64_t> budget = Indices(r, FaultKind::BudgetInAttempt, Selection{});
  EXPECT_EQ(budget.size(), kBudgetAttempts * r.AttemptLength());
  EXPECT_EQ(r.PhaseOf(budget.back()), Phase::KeyRead);
  EXPECT_EQ(r.PhaseOf(budget.front() + r.AttemptLength()), Phase::Erase);
  for (const Selection &whole : {Selection{}, Selection{300, 7911}}) {
    const std::vector<uint64_t> all = Indices(r, FaultKind::FlipRead, whole);
    std::multiset<uint64_t> sliced;
    for (uint64_t slice = 0; slice < 3; ++slice) {
      for (uint64_t index : Indices(r, FaultKind::FlipRead, {whole.sample, whole.seed, slice, 3})) {
        sliced.insert(index);
        EXPECT_EQ(r.ops[index], sim::Op::Read) << index;
      }
    }
    EXPECT_EQ(sliced, std::multiset<uint64_t>(all.begin(), all.end()));
  }
  const std::vector<uint64_t> drawn = Indices(r, FaultKind::FailOnce, Selection{300, 7911});
  EXPECT_EQ(std::set<uint64_t>(drawn.begin(), drawn.end()).size(), 300u);
  EXPECT_EQ(drawn, Indices(r, FaultKind::FailOnce, Selection{300, 7911}));
  EXPECT_NE(drawn, Indices(r, FaultKind::FailOnce, Selection{300, 7912}));
  EXPECT_NE(drawn, Indices(r, FaultKind::FailFrom, Selection{300, 7911}));
}

// Each run is counted under the phase of its faulted transaction, and so is its retry.
TEST(SweepCase, TallyCountsByPhaseAndOutcome) {
  const Reference &r = TwoSix();
  Tally t;
  RunFacts noImage = Succeeded();
  noImage.flashHoldsImage = false;
  t.Add(r, 300, Judge(r.target, noImage));
  t.Add(r, 27000, Judge(r.target, Failed()));
  RunFacts badRetry = Failed();
  badRetry.retry.status = 248;
  t.Add(r, 27418, Judge(r.target, badRetry));
  t.Add(r, 9, Judge(r.target, ChipIdFailed()));
  t.Add(r, 27100, Judge(r.target, BlankAfterLostBackup()));
  EXPECT_EQ(t.runs, 5u);
  EXPECT_EQ(t.falseSuccesses, 1u);
  EXPECT_EQ(t.retriesFailed, 1u);
  // success, failure, chip id, not erased, other | retry: success, restored, blank, failed
  EXPECT_EQ(t.counts[static_cast<int>(Phase::KeySave)], (Counts{1, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(t.counts[static_cast<int>(Phase::KeyWrite)], (Counts{0, 3, 0, 0, 0, 0, 1, 1, 1}));
  EXPECT_EQ(t.counts[static_cast<int>(Phase::ChipId)], (Counts{0, 0, 1, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(t.counts[kPhases], (Counts{1, 3, 1, 0, 0, 1, 1, 1, 1}));
  ASSERT_EQ(t.violations.size(), 2u);
  EXPECT_EQ(t.violations[0].rfind("at 300: ", 0), 0u) << t.violations[0];
}

} // namespace

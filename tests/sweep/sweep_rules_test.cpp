// The sweep is only as good as its rules and its phase map: a rule that cannot fire would let
// a false success through every one of its runs.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/sweep/sweep_rules.h"
#include "tests/sweep/sweep_run.h"
#include "tests/sweep/sweep_tally.h"

namespace {

using namespace sweep;

Reference TwoSix() {
  Target target;
  EXPECT_TRUE(ParseTarget("2:6", &target));
  Reference r;
  std::string error;
  EXPECT_TRUE(LearnReference(target, &r, &error)) << error;
  return r;
}

// What a clean /f 2 6 from 2.6.12 leaves behind.
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
  return f;
}

// A clean retry after a failed run.
RetryFacts Retried(bool restored) {
  RetryFacts r;
  r.ran = r.success = r.flashHoldsImage = r.keyIntact = true;
  r.restored = restored;
  return r;
}

RunFacts Failed() {
  RunFacts f = Succeeded();
  f.backup = Backup::Original;
  f.retry = Retried(true);
  f.status = 248;
  f.text = "\n VTQ_001 LT7911D FW [ CID_PID_Txx ] flash from [ 03.06.12 ] to [ 02.06.19 ] "
           "\n VTQ_002J  upgrade Fail";
  f.ec = {0x8B, 0x8C};
  f.statusCodes = {0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xFF};
  f.cmosVersion = {3, 6, 12}; // as printed, even when a flipped read made it up
  f.flashHoldsImage = false;
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
  f.retry = Retried(false);
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
  Reference r = TwoSix();
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
  Reference r = TwoSix();
  for (const RunFacts &f : {Succeeded(), Failed(), ChipIdFailed(), NotErased()}) {
    Verdict v = Judge(r, Fault{FaultKind::FailOnce, 30000}, f);
    EXPECT_TRUE(v.violations.empty()) << f.status << ": " << v.violations[0];
    EXPECT_FALSE(v.falseSuccess);
  }
}

TEST(SweepRules, SuccessWithoutTheImageOrTheKeyAreaIsFalse) {
  Reference r = TwoSix();
  RunFacts noImage = Succeeded();
  noImage.flashHoldsImage = false;
  Verdict v = Judge(r, Fault{FaultKind::IgnoreWrite, 30000}, noImage);
  EXPECT_TRUE(v.falseSuccess);
  EXPECT_FALSE(v.violations.empty());

  // Whatever the phase, the key-area save included.
  RunFacts noKey = Succeeded();
  noKey.keyIntact = false;
  for (uint64_t index : {300u, 26941u}) {
    v = Judge(r, Fault{FaultKind::FlipRead, index}, noKey);
    EXPECT_TRUE(v.falseSuccess && v.keyDamagedSuccess) << index;
  }
}

TEST(SweepRules, BackupAndRetryMustEndWithTheChipsOwnKeyArea) {
  Reference r = TwoSix();
  const Fault cut{FaultKind::CutRetry, 27000};
  RunFacts leftBehind = Succeeded();
  leftBehind.backup = Backup::Original;
  EXPECT_FALSE(Judge(r, cut, leftBehind).violations.empty());
  RunFacts noBackup = Failed();
  noBackup.backup = Backup::None;
  EXPECT_FALSE(Judge(r, cut, noBackup).violations.empty());
  RunFacts stored = NotErased();
  stored.backup = Backup::Original;
  EXPECT_FALSE(Judge(r, cut, stored).violations.empty());
  RunFacts erased = NotErased();
  erased.flashUntouched = false;
  EXPECT_FALSE(Judge(r, cut, erased).violations.empty());

  std::vector<RunFacts> badRetries(3, Failed());
  badRetries[0].retry.keyIntact = false;
  badRetries[1].retry.status = 248;
  badRetries[2].retry.backup = Backup::Original;
  for (size_t i = 0; i < badRetries.size(); ++i) {
    Verdict v = Judge(r, cut, badRetries[i]);
    EXPECT_FALSE(v.violations.empty()) << i;
    EXPECT_EQ(v.retryFailed, i < 2) << i;
  }
  Verdict v = Judge(r, cut, Failed());
  EXPECT_TRUE(v.retried && v.retryRestored && !v.retryFailed);
}

TEST(SweepRules, EachSignOfTheOutcomeMustAgree) {
  Reference r = TwoSix();
  const Fault fault{FaultKind::FailOnce, 30000};
  std::vector<RunFacts> broken(8, Succeeded());
  broken[0].ec = {0x8B, 0x8C};
  broken[1].statusCodes.back() = 0xF8;
  broken[2].cmosVersion = {2, 6, 12};
  broken[3].text += " upgrade Fail";
  broken[4].poolBalanced = false;
  broken[5].struck = false;
  broken[6].status = 24;
  broken[7] = Failed();
  broken[7].cmosVersion = {2, 6, 12}; // not the version the run printed
  for (size_t i = 0; i < broken.size(); ++i)
    EXPECT_FALSE(Judge(r, fault, broken[i]).violations.empty()) << i;

  RunFacts erased = ChipIdFailed();
  erased.erases = 1;
  EXPECT_FALSE(Judge(r, fault, erased).violations.empty());
  RunFacts keyLost = Failed();
  keyLost.keyIntact = false;
  Verdict v = Judge(r, fault, keyLost);
  EXPECT_TRUE(v.keyLostFailureReported);
  EXPECT_TRUE(v.violations.empty());
}

TEST(SweepTally, ShardReportsAddUpAndMustBeComplete) {
  Reference r = TwoSix();
  Tally shard;
  shard.AddTarget(r);
  RunFacts noKey = Succeeded();
  noKey.keyIntact = false;
  shard.Add(r, Fault{FaultKind::FlipRead, 300}, Judge(r, Fault{FaultKind::FlipRead, 300}, noKey));
  shard.Add(r, Fault{FaultKind::CutRetry, 27000},
            Judge(r, Fault{FaultKind::CutRetry, 27000}, Failed()));
  shard.Add(r, Fault{FaultKind::FailOnce, 9}, Judge(r, Fault{FaultKind::FailOnce, 9}, Failed()));
  RunFacts noImage = Succeeded();
  noImage.flashHoldsImage = false;
  shard.Add(r, Fault{FaultKind::IgnoreWrite, 600},
            Judge(r, Fault{FaultKind::IgnoreWrite, 600}, noImage));

  const std::string path = ::testing::TempDir() + "sweep_shard.report";
  for (const char *name : {"0/2", "1/2"}) {
    std::ofstream out(path + name[0]);
    WriteReport(out, shard, name);
  }
  Tally all;
  std::string error;
  ASSERT_TRUE(MergeReport(path + "0", &all, &error)) << error;
  ASSERT_TRUE(MergeReport(path + "1", &all, &error)) << error;
  EXPECT_EQ(all.Runs(), 8u);
  EXPECT_EQ(all.FalseSuccesses(), 4u);
  EXPECT_EQ(all.violations.size(), 2 * shard.violations.size());
  const KindTally &flips = all.targets[0].second.kinds[static_cast<int>(FaultKind::FlipRead)];
  EXPECT_EQ(flips.keyDamagedSuccesses, 2u);
  EXPECT_EQ(flips.outcomes[static_cast<int>(Phase::KeySave)][0], 2u);
  const KindTally &cuts = all.targets[0].second.kinds[static_cast<int>(FaultKind::CutRetry)];
  EXPECT_EQ(cuts.retries[static_cast<int>(Phase::KeyWrite)][1], 2u);
  EXPECT_EQ(all.targets[0].second.reference.phaseStart, r.phaseStart);

  std::ofstream(path + "2") << "target 2:6 6 51079 0 8 13 21 937 947 26941 27419 50621\n";
  EXPECT_FALSE(MergeReport(path + "2", &all, &error)) << "a shard that did not finish";
}

} // namespace

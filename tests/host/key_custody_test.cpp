// The chip's key area across faults, power cuts and retries: the verified save, the backup
// variable and the restore.
#include <gtest/gtest.h>

#include <cstring>

#include "catalogue/catalogue.h"
#include "chip/flash.h"
#include "app/result_record.h"
#include "records.h"
#include "sim/host/host_platform.h"
#include "update/key_custody.h"
#include "tests/sweep/sweep_run.h"
#include "update/update.h"

namespace {

using sweep::Phase;

// Transaction indices of a clean /f 2 6, as the fault sweep learns them. Each platform is the
// only one while it lives, so a test finds its indices before it makes its own.
uint64_t Start(Phase phase) {
  return sweep::LearntReference("2:6").phaseStart[static_cast<int>(phase)];
}

// The read of key byte `n` in the saves before the erase: 0-285 the first pass, 286-571 the
// second.
uint64_t SaveRead(uint32_t n) {
  const sweep::Reference &clean = sweep::LearntReference("2:6");
  uint64_t i = Start(Phase::KeySave);
  for (; i < Start(Phase::Erase); ++i)
    if (clean.ops[i] == sim::Op::Read && n-- == 0)
      break;
  return i;
}

int64_t Flash26(sim::HostPlatform &p) {
  return p.Run({"Panelup.efi", "/f", "2", "6"});
}

const sim::StoredVariable *Backup(const sim::HostPlatform &p) {
  return p.FindVariable(kKeyBackupName, kKeyBackupGuid);
}

std::vector<uint8_t> OriginalKey(sim::HostPlatform &p) {
  return {p.Chip().originalKeyArea, p.Chip().originalKeyArea + sim::kKeyAreaSize};
}

// A stop before the erase: the message, 0xF9, exit 254, only the first EC command, flash as it was.
void ExpectStoppedBeforeErase(sim::HostPlatform &p, int64_t status, const std::string &message) {
  EXPECT_EQ(status, 254);
  EXPECT_TRUE(Contains(p.OutputText(), "\r\n VTQ_002K  " + message + ", flash not erased"))
      << p.OutputText();
  EXPECT_FALSE(Contains(p.OutputText(), "VTQ_002C"));
  EXPECT_EQ(p.Cmos(0x79), 0xF9);
  EXPECT_EQ(p.Cmos(0x72), 12); // still the on-board version
  EXPECT_EQ(p.EcBytes(), (std::vector<uint8_t>{0x8B}));
  EXPECT_EQ(p.Chip().erases, 0u);
  EXPECT_EQ(p.Chip().programs, 0u);
  EXPECT_TRUE(p.PoolBalanced());
}

TEST(KeyCustody, BackupIsStoredBeforeTheEraseAndDeletedAfterBothCompares) {
  sim::HostOptions o;
  o.faults.failFrom = Start(Phase::Erase); // the power fails as the erase is sent
  sim::HostPlatform p(o);
  EXPECT_EQ(Flash26(p), 248);
  const sim::StoredVariable *v = Backup(p);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->attributes, 0x3u); // non-volatile, boot services only: never the OS's to read
  EXPECT_EQ(v->data, OriginalKey(p));

  // A clean run of the same chip stores nothing more and deletes the backup at the end.
  p.PowerCycle();
  EXPECT_EQ(Flash26(p), 0);
  EXPECT_EQ(Backup(p), nullptr);
  std::vector<sim::VariableCall> sets;
  for (const sim::VariableCall &c : p.Recorded<sim::VariableCall>())
    if (c.set && c.name == kKeyBackupName)
      sets.push_back(c);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].size, 0u);
  // The tool's copies of the key material are cleared before it returns.
  for (uint32_t i = 0; i < kHdcpKeySize; ++i) {
    ASSERT_EQ(HdcpKeyBuffer[i], 0) << i;
    ASSERT_EQ(ReadBackBuffer[kHdcpKeyAddress + i], 0) << i;
  }
}

TEST(KeyCustody, RetryAfterAPowerCutRestoresTheChipsOwnKeyArea) {
  const uint64_t firmwareWriteMiddle = (Start(Phase::FirmwareWrite) + Start(Phase::KeyWrite)) / 2;
  for (uint64_t cut :
       {Start(Phase::Erase) + 9, firmwareWriteMiddle, Start(Phase::KeyWrite) + 100}) {
    sim::HostOptions o;
    o.faults.failFrom = cut;
    sim::HostPlatform p(o);
    EXPECT_EQ(Flash26(p), 248) << cut;
    EXPECT_FALSE(sim::KeyAreaIntact(p.Chip())) << cut;
    p.PowerCycle();
    EXPECT_EQ(Flash26(p), 0) << cut;
    EXPECT_TRUE(Contains(p.OutputText(), "VTQ_002B  SaveHdcpKeyFromFlash\r\n VTQ_002B  HdcpKey "
                                         "restored from backup\r\n VTQ_002C  BlockErase"))
        << cut;
    EXPECT_TRUE(FlashHolds(p, 6)) << cut;
    EXPECT_TRUE(sim::KeyAreaIntact(p.Chip())) << cut;
    EXPECT_EQ(Backup(p), nullptr) << cut;
  }
}

TEST(KeyCustody, FailedWriteBackIsRepairedByTheRetryNotSavedAsTheKey) {
  // One failed data write in a key page programs that page shifted by a byte.
  sim::HostOptions o;
  o.faults.failOnce = Start(Phase::KeyWrite) + 8 + 4 + 3;
  sim::HostPlatform p(o);
  EXPECT_EQ(Flash26(p), 248);
  EXPECT_TRUE(Contains(p.OutputText(), "ReadHdcpKey["));
  p.Options().faults = sim::BusFaults{};
  p.Bus().faults = sim::BusFaults{};
  EXPECT_EQ(Flash26(p), 0);
  EXPECT_TRUE(Contains(p.OutputText(), "HdcpKey restored from backup"));
  EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
}

// A wrong bit in the first or last byte of either pass, or a write the bus refused.
TEST(KeyCustody, AnUnstableSaveStopsBeforeTheErase) {
  std::vector<sim::BusFaults> faults(5);
  faults[0].flipReadAt = SaveRead(0);
  faults[1].flipReadAt = SaveRead(285);
  faults[2].flipReadAt = SaveRead(286);
  faults[3].flipReadAt = SaveRead(571);
  faults[4].failOnce = SaveRead(286) - 1;
  for (const sim::BusFaults &f : faults) {
    SCOPED_TRACE(f.flipReadAt);
    sim::HostOptions o;
    o.faults = f;
    sim::HostPlatform p(o);
    ExpectStoppedBeforeErase(p, Flash26(p), "SaveHdcpKeyFromFlash unstable");
    EXPECT_EQ(Backup(p), nullptr);
  }
}

// A pass with a failed transfer is no reading. Every other transfer of both passes failing (never
// two in a row) leaves 0xFF in place of every other byte read, which fits any backup: another
// chip's, or the blank one, must still not replace this chip's key. From a boot option the two
// passes are read again; a bus that dies inside them is given up before the erase, even with
// this chip's backup there to restore.
TEST(KeyCustody, AFailedReadIsNoRead) {
  const uint64_t save = Start(Phase::KeySave);
  for (bool blank : {false, true}) {
    SCOPED_TRACE(blank ? "the blank backup" : "another chip's backup");
    sim::HostOptions o;
    o.faults.failOnce = save;
    o.faults.failStride = 2;
    o.faults.failAgain = static_cast<uint32_t>(Start(Phase::Erase) - save) / 2 - 1;
    sim::HostPlatform p(o);
    std::vector<uint8_t> backup(sim::kKeyAreaSize, 0xFF);
    for (uint32_t i = 0; !blank && i < backup.size(); ++i)
      backup[i] = sim::FactoryKeyByte(0xBEEF, i);
    p.PutVariable({kKeyBackupName, kKeyBackupGuid, 0x3, backup});
    ExpectStoppedBeforeErase(p, Flash26(p), "SaveHdcpKeyFromFlash unstable");
    EXPECT_EQ(p.Bus().failures, 458u);
    ASSERT_NE(Backup(p), nullptr);
    EXPECT_EQ(Backup(p)->data, backup);
  }
  {
    sim::HostOptions o;
    o.arguments = sim::ArgumentSource::LoadOptions;
    o.rawLoadOptions = "/f 2 6";
    o.faults.failOnce = SaveRead(300);
    sim::HostPlatform p(o);
    EXPECT_EQ(p.Run({}), 0);
    EXPECT_TRUE(Contains(p.OutputText(), "\r\n VTQ_002B  SaveHdcpKeyFromFlash\r\n VTQ_002B  "
                                         "SaveHdcpKeyFromFlash read 1 of 3 failed, reading again"
                                         "\r\n VTQ_002C  BlockErase"))
        << p.OutputText();
    EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
  }
  sim::HostOptions o;
  o.faults.failFrom = SaveRead(100);
  sim::HostPlatform p(o);
  p.PutVariable({kKeyBackupName, kKeyBackupGuid, 0x3, OriginalKey(p)});
  std::memset(p.Chip().flash + sim::kKeyAreaAddress + 144, 0xFF, sim::kKeyAreaSize - 144);
  ExpectStoppedBeforeErase(p, Flash26(p), "SMBus given up");
  EXPECT_FALSE(Contains(p.OutputText(), "restored"));
  const sim::StoredVariable *record = p.FindVariable(kResultRecordName, kResultRecordGuid);
  ASSERT_NE(record, nullptr);
  const std::string text(record->data.begin(), record->data.end());
  EXPECT_TRUE(Contains(text, " exit=254 ") && text.ends_with(RecordTail("return", 0))) << text;
}

// The tool stores the backup and the marker from the same bytes. A backup that does not match the
// marker (another panel's file loaded, a marker left by another chip's update) is neither
// restored nor kept, even when it is the chip's own, and both stay as they are.
TEST(KeyCustody, ABackupMustMatchItsMarker) {
  sim::HostPlatform p;
  const std::vector<uint8_t> marker{0x01, 0x02, 0x03, 0x04};
  p.PutVariable({kKeyBackupName, kKeyBackupGuid, 0x3, OriginalKey(p)});
  p.PutVariable({kKeyMarkerName, kKeyBackupGuid, 0x3, marker});
  ExpectStoppedBeforeErase(p, Flash26(p), "HdcpKey backup does not match its marker");
  EXPECT_EQ(Backup(p)->data, OriginalKey(p));
  EXPECT_EQ(p.FindVariable(kKeyMarkerName, kKeyBackupGuid)->data, marker);
}

// A panel swapped after a failed update: the old panel's backup belongs to another chip, and with
// only the backup deleted its marker still stands. Once both are deleted, as the operator is told
// to, the new panel's own key area is taken as for a first update.
TEST(KeyCustody, ASwappedPanelGoesOnOnceBothAreDeleted) {
  sim::HostOptions o;
  o.faults.failFrom = Start(Phase::Erase) + 9;
  sim::HostPlatform p(o);
  EXPECT_EQ(Flash26(p), 248);
  sim::ChipConfig other;
  other.keySeed = 0xBEEF;
  sim::ChipPowerOn(p.Chip(), other);
  p.Options().faults = p.Bus().faults = sim::BusFaults{};
  ExpectStoppedBeforeErase(p, Flash26(p), "HdcpKey backup belongs to another chip");
  p.RemoveVariable(kKeyBackupName, kKeyBackupGuid);
  EXPECT_EQ(Flash26(p), 254);
  EXPECT_TRUE(Contains(p.OutputText(), "last update did not finish and HdcpKey backup is gone"));
  p.RemoveVariable(kKeyMarkerName, kKeyBackupGuid);
  EXPECT_EQ(Flash26(p), 0);
  EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
}

// A store that cannot be read, is full, or reports success for a write that never lands.
TEST(KeyCustody, ABackupThatCannotBeKeptStopsBeforeTheErase) {
  std::vector<std::pair<sim::HostOptions, const char *>> cases(3);
  cases[0] = {{}, "HdcpKey backup NG = Device Error"};
  cases[0].first.getVariableFails = true;
  cases[1] = {{}, "HdcpKey backup NG = Out of Resources"};
  cases[1].first.variableStoreFull = true;
  cases[2] = {{}, "HdcpKey backup NG = Volume Corrupt"};
  cases[2].first.variableWritesLost = true;
  for (const auto &[options, message] : cases) {
    sim::HostPlatform p(options);
    ExpectStoppedBeforeErase(p, Flash26(p), message);
    EXPECT_EQ(Backup(p), nullptr);
  }
}

// Only exactly 286 bytes with NV+BS can be the tool's (an operating system can plant one with
// runtime access, root one of any size, and all zeros would fit any restore rule): anything else
// is neither used nor touched. Nor is a marker of another form.
TEST(KeyCustody, OnlyTheToolsOwnVariablesAreUsed) {
  struct Planted {
    const char16_t *name;
    uint32_t attributes;
    size_t size;
    const char *message;
  };
  const std::string notOurs = "HdcpKey backup not stored by this tool";
  for (const Planted &v :
       {Planted{kKeyBackupName, 0x7, 286, notOurs.c_str()},
        Planted{kKeyBackupName, 0x3, 10, notOurs.c_str()},
        Planted{kKeyBackupName, 0x3, 300, notOurs.c_str()},
        Planted{kKeyMarkerName, 0x3, 5, "HdcpKey marker not stored by this tool"}}) {
    sim::HostPlatform p;
    const sim::StoredVariable planted{v.name, kKeyBackupGuid, v.attributes,
                                      std::vector<uint8_t>(v.size, 0)};
    p.PutVariable(planted);
    ExpectStoppedBeforeErase(p, Flash26(p), v.message);
    const sim::StoredVariable *left = p.FindVariable(v.name, kKeyBackupGuid);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(left->attributes, v.attributes);
    EXPECT_EQ(left->data, planted.data);
  }
}

// A real key area is random: a page all 0xFF (an erase or write-back that did not finish) or all
// 0x00 (a wiped area) is never taken as the key, on the chip without a backup or as a backup.
// The last, 14-byte piece counts as a page.
TEST(KeyCustody, AnAreaWithBlankOrZeroedPagesIsNoKey) {
  for (uint8_t fill : {0xFF, 0x00}) {
    sim::HostPlatform p;
    std::memset(p.Chip().flash + sim::kKeyAreaAddress + 0x110, fill, 14);
    ExpectStoppedBeforeErase(p, Flash26(p),
                             fill == 0xFF ? "HdcpKey blank (1 of 18 pages) and no backup"
                                          : "HdcpKey zeroed (1 of 18 pages) and no backup");
    EXPECT_EQ(Backup(p), nullptr);
  }
  // All zeros, another chip's key with zeros after it, some pages blank but not all.
  for (uint32_t keep : {0u, 150u, 200u}) {
    sim::HostPlatform p;
    std::vector<uint8_t> backup = OriginalKey(p);
    std::fill(backup.begin() + keep, backup.end(), keep == 200 ? 0xFF : 0x00);
    p.PutVariable({kKeyBackupName, kKeyBackupGuid, 0x3, backup});
    ExpectStoppedBeforeErase(p, Flash26(p), "HdcpKey backup is no key area");
    EXPECT_EQ(Backup(p)->data, backup);
  }
}

// The chip's area is judged by its programmed bytes that differ from the backup: up to half may.
// Each save pass is judged on its own, so a read that changes one more byte in the second pass
// stops the update. A blank backup (the operator's step for a chip without a key area) never
// replaces a real key, and a zeroed area is never this backup's.
TEST(KeyCustody, RestoreTakesAtMostHalfTheAreaProgrammedDifferently) {
  const uint64_t secondPassByte0 = SaveRead(286);
  for (uint32_t bytes : {143u, 144u, 143u + 1000u, 286u + 2000u, 3000u}) {
    const bool flipInSecondPass = bytes > 1000 && bytes < 2000;
    SCOPED_TRACE(bytes);
    sim::HostPlatform p;
    std::vector<uint8_t> backup = OriginalKey(p);
    for (uint32_t i = 0; i < bytes % 1000; ++i) {
      uint8_t &b = backup[backup.size() - 1 - i];
      b = static_cast<uint8_t>(b == 0x01 ? 0x02 : b ^ 0x01);
    }
    if (bytes == 286 + 2000)
      std::fill(backup.begin(), backup.end(), 0xFF);
    if (bytes == 3000)
      std::memset(p.Chip().flash + sim::kKeyAreaAddress, 0, sim::kKeyAreaSize);
    if (flipInSecondPass) {
      p.Options().faults.flipReadAt = secondPassByte0;
      p.Options().faults.flipMask = backup[0] == 0xFE ? 0x02 : 0x01;
      p.Bus().faults = p.Options().faults;
    }
    p.PutVariable({kKeyBackupName, kKeyBackupGuid, 0x3, backup});
    int64_t status = Flash26(p);
    if (bytes == 143) {
      EXPECT_EQ(status, 0);
      EXPECT_TRUE(Contains(p.OutputText(), "HdcpKey restored from backup"));
      EXPECT_EQ(
          0, std::memcmp(p.Chip().flash + sim::kKeyAreaAddress, backup.data(), sim::kKeyAreaSize));
    } else {
      ExpectStoppedBeforeErase(p, status,
                               flipInSecondPass ? "SaveHdcpKeyFromFlash unstable"
                                                : "HdcpKey backup belongs to another chip");
    }
  }
}

// One failed data write garbles a key page and the run ends 248; if the backup is then lost, the
// marker still tells the garbled area from the chip's own, so the retry never stores it as the
// key. With the area written back whole, the retry goes on as a run without a backup.
TEST(KeyCustody, TheMarkerOutlivesALostBackup) {
  const uint64_t keyWriteEnd = Start(Phase::FirmwareRead);
  for (uint64_t fault : {Start(Phase::KeyWrite) + 8 + 4 + 3, keyWriteEnd + 100}) {
    const bool garbled = fault < keyWriteEnd;
    sim::HostOptions o;
    (garbled ? o.faults.failOnce : o.faults.failFrom) = fault;
    sim::HostPlatform p(o);
    EXPECT_EQ(Flash26(p), 248);
    const sim::StoredVariable *marker = p.FindVariable(kKeyMarkerName, kKeyBackupGuid);
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->attributes, 0x3u);
    EXPECT_EQ(marker->data.size(), 4u);
    p.RemoveVariable(kKeyBackupName, kKeyBackupGuid);
    p.PowerCycle();
    if (garbled) {
      ExpectStoppedBeforeErase(p, Flash26(p),
                               "last update did not finish and HdcpKey backup is gone");
      continue;
    }
    EXPECT_EQ(Flash26(p), 0);
    EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
    EXPECT_EQ(p.FindVariable(kKeyMarkerName, kKeyBackupGuid), nullptr);
  }
}

// A backup that cannot be deleted after a good update is said after the success text; the exit
// status stays 0.
TEST(KeyCustody, AFailedDeleteAfterSuccessIsSaid) {
  sim::HostOptions o;
  o.variableDeletesFail = true;
  sim::HostPlatform p(o);
  EXPECT_EQ(Flash26(p), 0);
  EXPECT_TRUE(Contains(p.OutputText(), "VTQ_002J  upgrade success\r\n VTQ_002J  HdcpKey backup "
                                       "not deleted = Write Protected, a copy stays in NV storage"))
      << p.OutputText();
  EXPECT_NE(Backup(p), nullptr);
}

} // namespace

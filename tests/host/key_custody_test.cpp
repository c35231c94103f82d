// The chip's key area across faults, power cuts and retries: the verified save, the backup
// variable and the restore.
#include <gtest/gtest.h>

#include <cstring>

#include "catalogue/catalogue.h"
#include "chip/flash.h"
#include "records.h"
#include "sim/host/host_platform.h"
#include "update/key_custody.h"
#include "update/update.h"

namespace {

// Transaction indices of a clean /f 2 6: the two key saves, the erase, the key write-back.
constexpr uint64_t kFirstSaveRead = 21 + 8 + 9;
constexpr uint64_t kSecondSaveStart = 21 + 458;
constexpr uint64_t kEraseStart = 937;
constexpr uint64_t kFirmwareWriteMiddle = 15000;
constexpr uint64_t kKeyWriteStart = 26941;

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
  o.faults.failFrom = kEraseStart; // the power fails as the erase is sent
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
  for (uint64_t cut : {kEraseStart + 9, kFirmwareWriteMiddle, kKeyWriteStart + 100}) {
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
  o.faults.failOnce = kKeyWriteStart + 8 + 4 + 3;
  sim::HostPlatform p(o);
  EXPECT_EQ(Flash26(p), 248);
  EXPECT_TRUE(Contains(p.OutputText(), "ReadHdcpKey["));
  p.Options().faults = sim::BusFaults{};
  p.Bus().faults = sim::BusFaults{};
  EXPECT_EQ(Flash26(p), 0);
  EXPECT_TRUE(Contains(p.OutputText(), "HdcpKey restored from backup"));
  EXPECT_TRUE(sim::KeyAreaIntact(p.Chip()));
}

TEST(KeyCustody, AnUnstableSaveStopsBeforeTheErase) {
  std::vector<sim::BusFaults> faults(3);
  faults[0].flipReadAt = kFirstSaveRead;           // a wrong bit in the first pass
  faults[1].flipReadAt = kSecondSaveStart + 8 + 9; // or in the second
  faults[2].failOnce = kSecondSaveStart + 3;       // a write the bus refused
  for (const sim::BusFaults &f : faults) {
    sim::HostOptions o;
    o.faults = f;
    sim::HostPlatform p(o);
    ExpectStoppedBeforeErase(p, Flash26(p), "SaveHdcpKeyFromFlash unstable");
    EXPECT_EQ(Backup(p), nullptr);
  }
}

TEST(KeyCustody, ABackupThatCannotBeKeptStopsBeforeTheErase) {
  {
    sim::HostOptions o;
    o.getVariableFails = true;
    sim::HostPlatform p(o);
    ExpectStoppedBeforeErase(p, Flash26(p), "HdcpKey backup NG = Device Error");
  }
  {
    sim::HostOptions o;
    o.variableStoreFull = true;
    sim::HostPlatform p(o);
    ExpectStoppedBeforeErase(p, Flash26(p), "HdcpKey backup NG = Out of Resources");
    EXPECT_EQ(Backup(p), nullptr);
  }
  // One with runtime access (an operating system can plant it) is never used nor touched, even
  // when its zeros would pass the restore rule.
  for (size_t size : {size_t{4}, size_t{286}}) {
    sim::HostPlatform p;
    const sim::StoredVariable planted{kKeyBackupName, kKeyBackupGuid, 0x7,
                                      std::vector<uint8_t>(size, 0)};
    p.PutVariable(planted);
    ExpectStoppedBeforeErase(p, Flash26(p), "HdcpKey backup not stored by this tool");
    EXPECT_EQ(Backup(p)->attributes, 0x7u);
    EXPECT_EQ(Backup(p)->data, planted.data);
  }
}

// A blank page in the key area means an erase or a write-back that did not finish: without a
// backup it is never taken as the key. The last, 14-byte piece counts as a page.
TEST(KeyCustody, ABlankPageWithoutABackupStopsBeforeTheErase) {
  sim::HostPlatform p;
  std::memset(p.Chip().flash + sim::kKeyAreaAddress + 0x110, 0xFF, 14);
  ExpectStoppedBeforeErase(p, Flash26(p), "HdcpKey blank (1 of 18 pages) and no backup");
  EXPECT_EQ(Backup(p), nullptr);
}

TEST(KeyCustody, AnotherSizeIsReplacedAnotherChipsBackupIsKept) {
  for (size_t size : {size_t{10}, size_t{300}}) {
    sim::HostOptions o;
    o.faults.failFrom = kEraseStart;
    sim::HostPlatform p(o);
    p.PutVariable({kKeyBackupName, kKeyBackupGuid, 0x3, std::vector<uint8_t>(size, 0x11)});
    EXPECT_EQ(Flash26(p), 248) << size;
    ASSERT_NE(Backup(p), nullptr);
    EXPECT_EQ(Backup(p)->data, OriginalKey(p)) << size;
  }
  sim::HostPlatform p;
  std::vector<uint8_t> other(sim::kKeyAreaSize);
  for (uint32_t i = 0; i < sim::kKeyAreaSize; ++i)
    other[i] = sim::FactoryKeyByte(0x1234, i);
  p.PutVariable({kKeyBackupName, kKeyBackupGuid, 0x3, other});
  ExpectStoppedBeforeErase(p, Flash26(p), "HdcpKey backup belongs to another chip");
  ASSERT_NE(Backup(p), nullptr);
  EXPECT_EQ(Backup(p)->data, other);
}

// Up to half the area may lack bits of the backup; each save pass is judged on its own, so a
// read that flips one more bit in the second pass stops the update.
TEST(KeyCustody, RestoreTakesAtMostHalfTheAreaWithMissingBits) {
  for (uint32_t bytes : {143u, 144u, 143u + 1000u}) {
    const bool flipInSecondPass = bytes > 1000;
    sim::HostPlatform p;
    // A backup with one bit more than the chip's area in the last `bytes % 1000` bytes.
    std::vector<uint8_t> backup = OriginalKey(p);
    for (uint32_t i = 0; i < bytes % 1000; ++i) {
      uint8_t &b = backup[backup.size() - 1 - i];
      b = static_cast<uint8_t>(b | (b + 1));
    }
    if (flipInSecondPass) {
      p.Options().faults.flipReadAt = kSecondSaveStart + 8 + 9; // key byte 0
      p.Options().faults.flipMask = static_cast<uint8_t>(backup[0] & -backup[0]);
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

} // namespace

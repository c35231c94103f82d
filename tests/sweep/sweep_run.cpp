#include "tests/sweep/sweep_run.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>

#include "app/result_record.h"
#include "formats/schedule.h"
#include "catalogue/catalogue.h"
#include "catalogue/crc32.h"
#include "sim/host/host_platform.h"
#include "update/key_custody.h"

namespace sweep {
namespace {

using sim::kCmosStatusIndex;

// What the hooks below record while one run is in progress. A sweep run replaces the platform's
// ConOut OutputString and bus observer with these: the screen model, the per-call console log
// and the bus trace cost more than the run itself, and the rules need only the printed text, the
// fault's strike and (for the clean run) where the phases begin.
struct Recorder {
  sim::HostPlatform *platform = nullptr;
  Fault fault{FaultKind::FailOnce, sim::kNever}; // none in the clean run
  bool struck = false;
  std::string text;
  // The clean run only: each transaction's direction, the CMOS status byte the last one saw,
  // and where each phase starts: the first transaction after its mark.
  bool learning = false;
  std::vector<sim::Op> ops;
  uint8_t status = 0;
  std::array<uint64_t, kPhases> starts{0,           sim::kNever, sim::kNever,
                                       sim::kNever, sim::kNever, sim::kNever,
                                       sim::kNever, sim::kNever, sim::kNever};
};

// The messages that open a phase; the others open with a CMOS status code, 0xF2 the key-area
// save to 0xF6 the firmware read.
constexpr std::pair<const char *, Phase> kMessageMarks[] = {
    {"flash from [", Phase::ChipId}, {"VTQ_002A", Phase::ConfigPara}, {"VTQ_002H", Phase::KeyRead}};

Recorder *gRecorder = nullptr;

// Keeps the printed text apart from the progress line, which a run prints once per page and no
// rule reads.
EFI_STATUS EFIAPI CaptureText(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/, const CHAR16 *text) {
  if (text == nullptr)
    return EFI_INVALID_PARAMETER;
  Recorder &r = *gRecorder;
  if (std::u16string_view(text).starts_with(u" VTQ_002E  =====Updating"))
    return EFI_SUCCESS;
  size_t start = r.text.size();
  for (const CHAR16 *c = text; *c != 0; ++c)
    r.text += *c < 0x80 ? static_cast<char>(*c) : '?';
  for (const auto &[mark, phase] : kMessageMarks) {
    uint64_t &at = r.starts[static_cast<int>(phase)];
    if (r.learning && at == sim::kNever && r.text.find(mark, start) != std::string::npos)
      at = r.platform->Bus().transactions;
  }
  return EFI_SUCCESS;
}

void Observe(void *context, const sim::Transaction &t) {
  Recorder &r = *static_cast<Recorder *>(context);
  if (t.index == r.fault.index && KindApplies(r.fault.kind, t.op))
    r.struck = true;
  if (r.learning) {
    r.ops.push_back(t.op);
    r.status = r.platform->Cmos(kCmosStatusIndex);
    const int phase = r.status - 0xF2 + static_cast<int>(Phase::KeySave);
    if (r.status >= 0xF2 && r.status <= 0xF6 && r.starts[phase] == sim::kNever)
      r.starts[phase] = t.index;
  }
}

void Hook(sim::HostPlatform &platform, Recorder &r) {
  r.platform = &platform;
  gRecorder = &r;
  platform.SystemTable()->ConOut->OutputString = CaptureText;
  platform.Bus().observer = Observe;
  platform.Bus().observerContext = &r;
}

int64_t RunTarget(sim::HostPlatform &platform, const Target &target) {
  return platform.Run(
      {"Panelup.efi", "/f", std::to_string(target.cid), std::to_string(target.pid)});
}

// The image and key area in the flash, and whether the backup variable holds the chip's own key
// area.
Left LeftBehind(sim::HostPlatform &platform, const Target &target) {
  const sim::BridgeChip &chip = platform.Chip();
  const CatalogueEntry &entry = FirmwareCatalogue[target.entry];
  Left left;
  left.flashHoldsImage = std::memcmp(chip.flash, entry.image, entry.length) == 0;
  left.keyIntact = sim::KeyAreaIntact(chip);
  const sim::StoredVariable *v = platform.FindVariable(kKeyBackupName, kKeyBackupGuid);
  if (v != nullptr)
    left.backup = v->attributes == kKeyBackupAttributes && v->data.size() == sim::kKeyAreaSize &&
                          std::memcmp(v->data.data(), chip.originalKeyArea, sim::kKeyAreaSize) == 0
                      ? Backup::Original
                      : Backup::Other;
  return left;
}

struct KindInfo {
  const char *name;
  const char *title;
  uint64_t sim::BusFaults::*at; // the platform's fault that strikes at the index
};
constexpr KindInfo kKinds[] = {
    {"fail-from", "bus fails from the transaction on", &sim::BusFaults::failFrom},
    {"fail-once", "one transaction fails", &sim::BusFaults::failOnce},
    {"flip-read", "one read returns bit 0 flipped", &sim::BusFaults::flipReadAt},
    {"ignore-write", "the chip ignores one write", &sim::BusFaults::ignoreWriteAt},
    {"cut-and-retry", "the power fails at the transaction; retry after power-on",
     &sim::BusFaults::failFrom},
    {"cut-lost-retry",
     "the power fails at the transaction; the key-area backup is lost; retry after power-on",
     &sim::BusFaults::failFrom},
    {"write-back-lost-retry",
     "one transfer of the key write-back fails; the key-area backup is lost; retry",
     &sim::BusFaults::failOnce},
    {"unattended-retry",
     "from a boot option with 3 attempts: the transfer fails in each of the first two",
     &sim::BusFaults::failOnce},
    {"alternate-phase", "every other transfer fails from the transaction to its phase's end",
     &sim::BusFaults::failOnce},
    {"alternate-phase-own-backup",
     "every other transfer fails from the transaction to its phase's end; this chip's backup, "
     "the key area's second half blank",
     &sim::BusFaults::failOnce},
    {"alternate-phase-other-backup",
     "every other transfer fails from the transaction to its phase's end; another chip's backup",
     &sim::BusFaults::failOnce},
    {"budget-in-attempt",
     "from a boot option with 9 attempts: one transfer fails in each attempt before the "
     "transaction's, every other one from the transaction on",
     &sim::BusFaults::failAlternateFrom}};

bool Alternates(FaultKind kind) {
  return kind == FaultKind::AlternatePhase || kind == FaultKind::AlternatePhaseOwnBackup ||
         kind == FaultKind::AlternatePhaseOtherBackup;
}

uint64_t PhaseEnd(const Reference &reference, Phase phase) {
  const int next = static_cast<int>(phase) + 1;
  return next < kPhases ? reference.phaseStart[next] : reference.transactions;
}

// Another chip's key area, as its factory would have made it.
std::vector<uint8_t> OtherChipsKeyArea() {
  std::vector<uint8_t> area(sim::kKeyAreaSize);
  for (uint32_t i = 0; i < sim::kKeyAreaSize; ++i)
    area[i] = sim::FactoryKeyByte(0xBEEF, i);
  return area;
}

// A backup and its marker, as the tool stores them before an erase.
void PlantBackup(sim::HostPlatform &platform, const std::vector<uint8_t> &area) {
  const uint32_t crc = Crc32(area.data(), static_cast<uint32_t>(area.size()));
  platform.PutVariable({kKeyBackupName, kKeyBackupGuid, kKeyBackupAttributes, area});
  platform.PutVariable({kKeyMarkerName,
                        kKeyBackupGuid,
                        kKeyBackupAttributes,
                        {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24)}});
}

} // namespace

void PlantSchedule(sim::HostPlatform &platform, uint8_t attempts) {
  char text[kScheduleBytes]{};
  const uint32_t length = FormatSchedule({BootEnd::Return, attempts}, text);
  platform.PutVariable(
      {kScheduleName, kResultRecordGuid, kResultRecordAttributes, {text, text + length}});
}

const char *KindName(FaultKind kind) {
  return kKinds[static_cast<int>(kind)].name;
}
const char *KindTitle(FaultKind kind) {
  return kKinds[static_cast<int>(kind)].title;
}

bool ParseKind(const std::string &name, FaultKind *kind) {
  for (int k = 0; k < static_cast<int>(std::size(kKinds)); ++k)
    if (name == kKinds[k].name) {
      *kind = static_cast<FaultKind>(k);
      return true;
    }
  return false;
}

bool KindApplies(FaultKind kind, sim::Op op) {
  if (kind == FaultKind::FlipRead)
    return op == sim::Op::Read;
  return kind != FaultKind::IgnoreWrite || op == sim::Op::Write;
}

bool KindStrikes(const Reference &reference, FaultKind kind, uint64_t index) {
  const uint64_t erase = reference.phaseStart[static_cast<int>(Phase::Erase)];
  if (kind == FaultKind::BudgetInAttempt)
    return index >= erase && index < KindIndexEnd(reference, kind);
  if (Alternates(kind)) {
    // Another chip's backup stops every run before the erase: the later phases never come.
    const Phase phase = reference.PhaseOf(index);
    const uint64_t start = reference.phaseStart[static_cast<int>(phase)];
    return index - start < 2 && index + 1 < PhaseEnd(reference, phase) &&
           (kind != FaultKind::AlternatePhaseOtherBackup || phase <= Phase::KeySave);
  }
  return KindApplies(kind, reference.ops[index]) &&
         (kind != FaultKind::WriteBackLostRetry || reference.PhaseOf(index) == Phase::KeyWrite) &&
         (kind != FaultKind::UnattendedRetry || index >= erase);
}

uint64_t KindIndexEnd(const Reference &reference, FaultKind kind) {
  if (kind != FaultKind::BudgetInAttempt)
    return reference.transactions;
  return reference.phaseStart[static_cast<int>(Phase::Erase)] +
         kBudgetAttempts * reference.AttemptLength();
}

const char *PhaseName(Phase phase) {
  static const char *const names[kPhases] = {"version read",   "chip id",       "ConfigPara",
                                             "key-area save",  "erase",         "firmware write",
                                             "key write-back", "firmware read", "key read-back"};
  return names[static_cast<int>(phase)];
}

bool ParsePair(const std::string &text, char separator, uint64_t *first, uint64_t *second) {
  const size_t at = text.find(separator);
  auto whole = [](const std::string &number, uint64_t *value) {
    const char *end = number.data() + number.size();
    const auto [stop, status] = std::from_chars(number.data(), end, *value);
    return status == std::errc{} && stop == end;
  };
  return at != std::string::npos && whole(text.substr(0, at), first) &&
         whole(text.substr(at + 1), second);
}

bool ParseTarget(const std::string &text, Target *target) {
  uint64_t cid = 0;
  uint64_t pid = 0;
  if (!ParsePair(text, ':', &cid, &pid))
    return false;
  for (uint8_t i = 0; i < kCatalogueEntryCount; ++i)
    if (FirmwareCatalogue[i].cid == cid && FirmwareCatalogue[i].pid == pid) {
      *target = Target{static_cast<uint8_t>(cid), static_cast<uint8_t>(pid), i};
      return true;
    }
  return false;
}

uint64_t Reference::AttemptLength() const {
  return transactions - phaseStart[static_cast<int>(Phase::Erase)];
}

Phase Reference::PhaseOf(uint64_t index) const {
  const uint64_t erase = phaseStart[static_cast<int>(Phase::Erase)];
  if (index >= transactions && AttemptLength() > 0)
    index = erase + (index - erase) % AttemptLength();
  return static_cast<Phase>(std::upper_bound(phaseStart.begin() + 1, phaseStart.end(), index) -
                            phaseStart.begin() - 1);
}

bool LearnReference(const Target &target, Reference *reference, std::string *error) {
  sim::HostPlatform platform;
  Recorder r;
  r.learning = true;
  Hook(platform, r);
  bool ok = RunTarget(platform, target) == 0 && r.text.find("upgrade success") != std::string::npos;
  gRecorder = nullptr;
  // 0xF7 (read-back done), 0xF0 and 0xFF come after the last transaction.
  ok = ok && r.status == 0xF6 &&
       platform.StatusCodes() ==
           std::vector<uint8_t>{0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF0, 0xFF};
  Reference &ref = *reference;
  ref = Reference{target, platform.Bus().transactions, r.starts, std::move(r.ops)};
  // Every phase has transactions, and they follow in order.
  for (int p = 0; p < kPhases; ++p)
    ok = ok && ref.phaseStart[p] < (p + 1 < kPhases ? ref.phaseStart[p + 1] : ref.transactions);
  ok = ok && ref.ops.size() == ref.transactions;
  if (!ok)
    *error = "the clean run of /f " + std::to_string(target.cid) + " " +
             std::to_string(target.pid) + " fails, or its phases are not where the sweep expects";
  return ok;
}

const Reference &LearntReference(const std::string &text) {
  static std::map<std::string, Reference> learnt;
  if (const auto found = learnt.find(text); found != learnt.end())
    return found->second;
  Target target;
  Reference reference;
  std::string error = "no catalogue entry " + text;
  if (!ParseTarget(text, &target) || !LearnReference(target, &reference, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  return learnt.emplace(text, std::move(reference)).first->second;
}

RunFacts RunWithFault(const Target &target, const Fault &fault) {
  sim::HostOptions options;
  options.faults.*kKinds[static_cast<int>(fault.kind)].at = fault.index;
  options.faults.flipMask = 0x01;
  RunFacts f;
  const Reference &clean =
      LearntReference(std::to_string(target.cid) + ":" + std::to_string(target.pid));
  // Every attempt, from the erase to the last read-back, takes as many transactions as the clean
  // run's, so a failure at the same place in each attempt is evenly spaced.
  const auto attemptLength = static_cast<uint32_t>(clean.AttemptLength());
  if (fault.kind == FaultKind::UnattendedRetry) {
    options.arguments = sim::ArgumentSource::LoadOptions;
    options.faults.failAgain = 1;
    options.faults.failStride = attemptLength;
    f.mustSucceed = true;
  } else if (Alternates(fault.kind)) {
    options.faults.failStride = 2;
    options.faults.failAgain =
        static_cast<uint32_t>((PhaseEnd(clean, clean.PhaseOf(fault.index)) - fault.index - 1) / 2);
    f.planted = fault.kind == FaultKind::AlternatePhaseOwnBackup     ? Planted::Own
                : fault.kind == FaultKind::AlternatePhaseOtherBackup ? Planted::Other
                                                                     : Planted::None;
  } else if (fault.kind == FaultKind::BudgetInAttempt) {
    // The attempts before the struck one each fail on their key read-back's first transfer.
    const uint64_t erase = clean.phaseStart[static_cast<int>(Phase::Erase)];
    const uint64_t attempt = (fault.index - erase) / attemptLength;
    options.arguments = sim::ArgumentSource::LoadOptions;
    if (attempt > 0) {
      options.faults.failOnce = clean.phaseStart[static_cast<int>(Phase::KeyRead)];
      options.faults.failStride = attemptLength;
      options.faults.failAgain = static_cast<uint32_t>(attempt - 1);
    }
    f.mustFail = true;
  }
  sim::HostPlatform platform(options);
  if (f.mustSucceed)
    PlantSchedule(platform, 3);
  if (fault.kind == FaultKind::BudgetInAttempt)
    PlantSchedule(platform, kBudgetAttempts);
  if (f.planted == Planted::Own) {
    const sim::BridgeChip &chip = platform.Chip();
    PlantBackup(platform, {chip.originalKeyArea, chip.originalKeyArea + sim::kKeyAreaSize});
    std::memset(platform.Chip().flash + sim::kKeyAreaAddress + sim::kKeyAreaSize / 2, 0xFF,
                sim::kKeyAreaSize - sim::kKeyAreaSize / 2);
  } else if (f.planted == Planted::Other) {
    PlantBackup(platform, OtherChipsKeyArea());
  }
  const std::vector<uint8_t> flashBefore(platform.Chip().flash,
                                         platform.Chip().flash + sim::kFlashSize);
  Recorder r;
  r.fault = fault;
  Hook(platform, r);

  f.status = RunTarget(platform, target);
  static_cast<Left &>(f) = LeftBehind(platform, target);
  f.struck = r.struck;
  f.poolBalanced = platform.PoolBalanced();
  f.text = std::move(r.text);
  f.ec = platform.EcBytes();
  f.statusCodes = platform.StatusCodes();
  f.cmosStatus = platform.Cmos(kCmosStatusIndex);
  f.cmosVersion = FirmwareVersion{platform.Cmos(0x70), platform.Cmos(0x71), platform.Cmos(0x72)};
  f.flashUntouched =
      std::memcmp(platform.Chip().flash, flashBefore.data(), flashBefore.size()) == 0;
  f.erases = platform.Chip().erases;
  f.busFailures = platform.Bus().failures;

  if (f.status != 0) {
    if (fault.kind == FaultKind::CutRetry || fault.kind == FaultKind::CutLostRetry) {
      platform.PowerCycle();
    } else {
      platform.Options().faults = sim::BusFaults{};
      platform.Bus().faults = sim::BusFaults{};
    }
    f.backupLost =
        fault.kind == FaultKind::CutLostRetry || fault.kind == FaultKind::WriteBackLostRetry;
    if (f.backupLost)
      platform.RemoveVariable(kKeyBackupName, kKeyBackupGuid);
    r.text.clear();
    const uint32_t erasesBefore = platform.Chip().erases;
    f.retry.status = RunTarget(platform, target);
    f.retry.erases = platform.Chip().erases - erasesBefore;
    f.retry.lostStop = r.text.find("HdcpKey blank (") != std::string::npos ||
                       r.text.find("last update did not finish") != std::string::npos;
    f.retry.foreignStop = r.text.find("belongs to another chip") != std::string::npos;
    static_cast<Left &>(f.retry) = LeftBehind(platform, target);
    f.retry.success = r.text.find("upgrade success") != std::string::npos;
    f.retry.restored = r.text.find("HdcpKey restored from backup") != std::string::npos;
  }
  gRecorder = nullptr;
  return f;
}

} // namespace sweep

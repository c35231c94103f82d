#include "tests/sweep/sweep_run.h"

#include <cstdlib>
#include <cstring>

#include "catalogue/catalogue.h"
#include "sim/host/host_platform.h"
#include "update/key_custody.h"

namespace sweep {
namespace {

constexpr uint8_t kCmosStatusIndex = 0x79;
constexpr uint16_t kCmosIndexPort = 0x70;
constexpr uint16_t kCmosDataPort = 0x71;
constexpr uint16_t kEcPort = 0x66;

// What the hooks below record while one run is in progress. A sweep run replaces the platform's
// ConOut OutputString and bus observer with these: the screen model, the per-call console log
// and the bus trace cost more than the run itself, and the rules need only the printed text, the
// fault's strike and (for the clean run) where the phases begin.
struct Recorder {
  sim::HostPlatform *platform = nullptr;
  Fault fault{};
  bool struck = false;
  std::string text;
  // The clean run only.
  bool learning = false;
  std::vector<sim::Op> ops;
  size_t portsSeen = 0;
  std::vector<std::pair<uint8_t, uint64_t>> statusAt; // CMOS status code, next transaction index
  std::vector<std::pair<std::string, uint64_t>> messageAt; // message, next transaction index
};

Recorder *gRecorder = nullptr;

// CMOS 0x79 writes among port accesses [from, to).
std::vector<uint8_t> StatusWrites(const std::vector<sim::PortAccess> &log, size_t from, size_t to) {
  std::vector<uint8_t> codes;
  for (size_t i = from; i + 1 < to; ++i)
    if (log[i].port == kCmosIndexPort && log[i].write && log[i].value == kCmosStatusIndex &&
        log[i + 1].port == kCmosDataPort && log[i + 1].write)
      codes.push_back(log[i + 1].value);
  return codes;
}

// Port accesses made since the last look happened before transaction `next`.
void NotePortAccesses(Recorder &r, uint64_t next) {
  const std::vector<sim::PortAccess> log = r.platform->Recorded<sim::PortAccess>();
  for (uint8_t code : StatusWrites(log, r.portsSeen, log.size()))
    r.statusAt.emplace_back(code, next);
  r.portsSeen = log.size();
}

bool IsProgressLine(const CHAR16 *text) {
  static const char16_t kProgress[] = u" VTQ_002E  =====Updating";
  for (size_t i = 0; i + 1 < sizeof kProgress / sizeof kProgress[0]; ++i)
    if (text[i] != kProgress[i])
      return false;
  return true;
}

// Keeps the printed text apart from the progress line, which a run prints once per page and no
// rule reads.
EFI_STATUS EFIAPI CaptureText(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL * /*This*/, const CHAR16 *text) {
  if (text == nullptr)
    return EFI_INVALID_PARAMETER;
  Recorder &r = *gRecorder;
  if (IsProgressLine(text))
    return EFI_SUCCESS;
  size_t start = r.text.size();
  for (const CHAR16 *c = text; *c != 0; ++c)
    r.text += *c < 0x80 ? static_cast<char>(*c) : '?';
  if (r.learning)
    r.messageAt.emplace_back(r.text.substr(start), r.platform->Bus().transactions);
  return EFI_SUCCESS;
}

void Observe(void *context, const sim::Transaction &t) {
  Recorder &r = *static_cast<Recorder *>(context);
  if (t.index == r.fault.index && KindApplies(r.fault.kind, t.op))
    r.struck = true;
  if (r.learning) {
    r.ops.push_back(t.op);
    NotePortAccesses(r, t.index);
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

const uint8_t *PowerOnFlash() {
  static sim::BridgeChip chip;
  static bool made = false;
  if (!made) {
    sim::ChipPowerOn(chip, sim::ChipConfig{});
    made = true;
  }
  return chip.flash;
}

// Index of the first transaction after the status code, or -1.
int64_t StartOfStatus(const Recorder &r, uint8_t code) {
  for (const auto &[c, index] : r.statusAt)
    if (c == code)
      return static_cast<int64_t>(index);
  return -1;
}

// Index of the first transaction after the first message containing `part`, or -1.
int64_t StartOfMessage(const Recorder &r, const char *part) {
  for (const auto &[text, index] : r.messageAt)
    if (text.find(part) != std::string::npos)
      return static_cast<int64_t>(index);
  return -1;
}

// Whether the backup variable is left, and whether it holds the chip's own key area.
Backup BackupLeft(sim::HostPlatform &platform) {
  const sim::StoredVariable *v = platform.FindVariable(kKeyBackupName, kKeyBackupGuid);
  if (v == nullptr)
    return Backup::None;
  const sim::BridgeChip &chip = platform.Chip();
  bool original = v->attributes == kKeyBackupAttributes && v->data.size() == sim::kKeyAreaSize &&
                  std::memcmp(v->data.data(), chip.originalKeyArea, sim::kKeyAreaSize) == 0;
  return original ? Backup::Original : Backup::Other;
}

} // namespace

const char *KindName(FaultKind kind) {
  switch (kind) {
  case FaultKind::FailFrom:
    return "fail-from";
  case FaultKind::FailOnce:
    return "fail-once";
  case FaultKind::FlipRead:
    return "flip-read";
  case FaultKind::IgnoreWrite:
    return "ignore-write";
  case FaultKind::CutRetry:
    return "cut-and-retry";
  }
  return "?";
}

const char *KindTitle(FaultKind kind) {
  switch (kind) {
  case FaultKind::FailFrom:
    return "bus fails from the transaction on";
  case FaultKind::FailOnce:
    return "one transaction fails";
  case FaultKind::FlipRead:
    return "one read returns bit 0 flipped";
  case FaultKind::IgnoreWrite:
    return "the chip ignores one write";
  case FaultKind::CutRetry:
    return "the power fails at the transaction; retry after power-on";
  }
  return "?";
}

bool ParseKind(const std::string &name, FaultKind *kind) {
  for (FaultKind k : kAllKinds)
    if (name == KindName(k)) {
      *kind = k;
      return true;
    }
  return false;
}

bool KindApplies(FaultKind kind, sim::Op op) {
  switch (kind) {
  case FaultKind::FlipRead:
    return op == sim::Op::Read;
  case FaultKind::IgnoreWrite:
    return op == sim::Op::Write;
  default:
    return true;
  }
}

const char *PhaseName(Phase phase) {
  static const char *const names[kPhases] = {"version read",   "chip id",       "ConfigPara",
                                             "key-area save",  "erase",         "firmware write",
                                             "key write-back", "firmware read", "key read-back"};
  return names[static_cast<int>(phase)];
}

const char *OutcomeName(Outcome outcome) {
  static const char *const names[kOutcomes] = {"success", "failure", "chip-id", "not-erased",
                                               "other"};
  return names[static_cast<int>(outcome)];
}

std::string TargetName(const Target &target) {
  return std::to_string(target.cid) + " " + std::to_string(target.pid);
}

bool ParseTarget(const std::string &text, Target *target) {
  // "cid:pid" and nothing more; a number too large for a byte matches no entry.
  const char *start = text.c_str();
  char *end = nullptr;
  unsigned long cid = std::strtoul(start, &end, 10);
  if (end == start || *end != ':')
    return false;
  start = end + 1;
  unsigned long pid = std::strtoul(start, &end, 10);
  if (end == start || *end != 0)
    return false;
  for (uint8_t i = 0; i < kCatalogueEntryCount; ++i)
    if (FirmwareCatalogue[i].cid == cid && FirmwareCatalogue[i].pid == pid) {
      *target = Target{static_cast<uint8_t>(cid), static_cast<uint8_t>(pid), i};
      return true;
    }
  return false;
}

Phase Reference::PhaseOf(uint64_t index) const {
  int phase = 0;
  while (phase + 1 < kPhases && index >= phaseStart[phase + 1])
    ++phase;
  return static_cast<Phase>(phase);
}

bool LearnReference(const Target &target, Reference *reference, std::string *error) {
  sim::HostPlatform platform;
  Recorder r;
  r.learning = true;
  r.fault = Fault{FaultKind::FailOnce, sim::kNever};
  Hook(platform, r);
  int64_t status = RunTarget(platform, target);
  NotePortAccesses(r, platform.Bus().transactions);
  gRecorder = nullptr;
  if (status != 0 || r.text.find("upgrade success") == std::string::npos) {
    *error = "the clean run of /f " + TargetName(target) + " does not succeed";
    return false;
  }
  const int64_t starts[kPhases] = {0,
                                   StartOfMessage(r, "flash from ["),
                                   StartOfMessage(r, "VTQ_002A"),
                                   StartOfStatus(r, 0xF2),
                                   StartOfStatus(r, 0xF3),
                                   StartOfStatus(r, 0xF4),
                                   StartOfStatus(r, 0xF5),
                                   StartOfStatus(r, 0xF6),
                                   StartOfMessage(r, "VTQ_002H")};
  Reference ref;
  ref.target = target;
  ref.transactions = platform.Bus().transactions;
  ref.ops = std::move(r.ops);
  for (int p = 0; p < kPhases; ++p) {
    // Every phase has transactions and they follow in order; the reads end at status 0xF7.
    int64_t end = p + 1 < kPhases ? starts[p + 1] : StartOfStatus(r, 0xF7);
    if (starts[p] < 0 || end <= starts[p] || ref.ops.size() != ref.transactions) {
      *error = std::string("cannot place the phase '") + PhaseName(static_cast<Phase>(p)) +
               "' of /f " + TargetName(target);
      return false;
    }
    ref.phaseStart[p] = static_cast<uint64_t>(starts[p]);
  }
  if (StartOfStatus(r, 0xF7) != static_cast<int64_t>(ref.transactions)) {
    *error = "transactions after the read-back of /f " + TargetName(target);
    return false;
  }
  *reference = std::move(ref);
  return true;
}

RunFacts RunWithFault(const Target &target, const Fault &fault) {
  sim::HostOptions options;
  switch (fault.kind) {
  case FaultKind::FailFrom:
  case FaultKind::CutRetry:
    options.faults.failFrom = fault.index;
    break;
  case FaultKind::FailOnce:
    options.faults.failOnce = fault.index;
    break;
  case FaultKind::FlipRead:
    options.faults.flipReadAt = fault.index;
    options.faults.flipMask = 0x01;
    break;
  case FaultKind::IgnoreWrite:
    options.faults.ignoreWriteAt = fault.index;
    break;
  }
  sim::HostPlatform platform(options);
  Recorder r;
  r.fault = fault;
  Hook(platform, r);

  RunFacts f;
  f.status = RunTarget(platform, target);
  f.struck = r.struck;
  f.poolBalanced = platform.PoolBalanced();
  f.text = std::move(r.text);
  const std::vector<sim::PortAccess> ports = platform.Recorded<sim::PortAccess>();
  for (const sim::PortAccess &a : ports)
    if (a.write && a.port == kEcPort)
      f.ec.push_back(a.value);
  f.statusCodes = StatusWrites(ports, 0, ports.size());
  f.cmosStatus = platform.Cmos(kCmosStatusIndex);
  f.cmosVersion = FirmwareVersion{platform.Cmos(0x70), platform.Cmos(0x71), platform.Cmos(0x72)};
  const sim::BridgeChip &chip = platform.Chip();
  const CatalogueEntry &entry = FirmwareCatalogue[target.entry];
  f.flashHoldsImage = std::memcmp(chip.flash, entry.image, entry.length) == 0;
  f.keyIntact = sim::KeyAreaIntact(chip);
  f.flashUntouched = std::memcmp(chip.flash, PowerOnFlash(), sim::kFlashSize) == 0;
  f.erases = chip.erases;
  f.backup = BackupLeft(platform);

  if (f.status != 0) {
    if (fault.kind == FaultKind::CutRetry) {
      platform.PowerCycle();
    } else {
      platform.Options().faults = sim::BusFaults{};
      platform.Bus().faults = sim::BusFaults{};
    }
    r.text.clear();
    RetryFacts &retry = f.retry;
    retry.ran = true;
    retry.status = RunTarget(platform, target);
    retry.success = r.text.find("upgrade success") != std::string::npos;
    retry.restored = r.text.find("HdcpKey restored from backup") != std::string::npos;
    retry.flashHoldsImage = std::memcmp(chip.flash, entry.image, entry.length) == 0;
    retry.keyIntact = sim::KeyAreaIntact(chip);
    retry.backup = BackupLeft(platform);
  }
  gRecorder = nullptr;
  return f;
}

} // namespace sweep

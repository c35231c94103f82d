// One whole /f update on the simulated platform with one injected bus fault, and the facts the
// sweep judges it by. The clean run of each target gives the transaction count and the index
// ranges of the update's phases.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "chip/firmware_version.h"
#include "sim/host/host_platform.h"
#include "sim/sim_bus.h"

namespace sweep {

// A run that does not succeed is tried once more without the fault, as an operator told to run
// it again would; after a cut, the machine and the chip are powered on again first. In the
// cut-lost and write-back-lost kinds the key-area backup is lost meanwhile (setup defaults,
// another machine); the second of those strikes only in the key write-back, where one failed
// transfer garbles the key area. The unattended kind runs from a boot option with three attempts:
// one transfer fails in each of the first two, at the same place in each, and the third is
// clean, so every run must succeed. The alternate kinds fail every other transfer of one phase,
// from its first or second transfer to its end (never two in a row), on a chip with no backup,
// with this chip's backup and marker after a cut in the key write-back (the area's second half
// blank), or with another chip's backup and marker. The budget kind runs from a boot option with
// nine attempts: one transfer fails in each attempt before the struck one, and from the struck
// transaction on every other transfer fails, until the run gives the bus up.
enum class FaultKind : uint8_t {
  FailFrom,
  FailOnce,
  FlipRead,
  IgnoreWrite,
  CutRetry,
  CutLostRetry,
  WriteBackLostRetry,
  UnattendedRetry,
  AlternatePhase,
  AlternatePhaseOwnBackup,
  AlternatePhaseOtherBackup,
  BudgetInAttempt,
};
// The attempts the budget kind's schedule allows, each as long as the clean run's from the erase.
constexpr uint64_t kBudgetAttempts = 9;
const char *KindName(FaultKind kind);  // as on the command line: "fail-from"
const char *KindTitle(FaultKind kind); // what the fault does
bool ParseKind(const std::string &name, FaultKind *kind);
// Whether the fault can strike a transaction of this direction (a flip needs a read, an ignored
// write a write); the sweep injects each kind only where it can strike.
bool KindApplies(FaultKind kind, sim::Op op);
// Whether the kind can strike the reference run's transaction `index`: its direction, and for a
// kind bound to one phase, that phase.
struct Reference;
bool KindStrikes(const Reference &reference, FaultKind kind, uint64_t index);
// One past the last index the kind can strike: the clean run's end, or for the budget kind the end
// of its nine attempts.
uint64_t KindIndexEnd(const Reference &reference, FaultKind kind);

// The update's phases in run order; each is a contiguous range of transaction indices.
enum class Phase : uint8_t {
  Version,       // on-board version read and register access release
  ChipId,        // chip id read
  ConfigPara,    // flash controller configuration
  KeySave,       // key area read into memory, between CMOS status 0xF2 and 0xF3
  Erase,         // block erase
  FirmwareWrite, // image programmed page by page
  KeyWrite,      // key area written back
  FirmwareRead,  // image read back
  KeyRead,       // key area read back
};
constexpr int kPhases = 9;
const char *PhaseName(Phase phase);

// A /f request whose whole run the sweep faults.
struct Target {
  uint8_t cid = 0;
  uint8_t pid = 0;
  uint8_t entry = 0; // catalogue entry the request selects
};
// "cid:pid" of a catalogue entry, and nothing more.
bool ParseTarget(const std::string &text, Target *target);
// Two whole decimal numbers with `separator` between them, and nothing more.
bool ParsePair(const std::string &text, char separator, uint64_t *first, uint64_t *second);

// What a clean run of a target looks like on the bus.
struct Reference {
  Target target;
  uint64_t transactions = 0;
  std::array<uint64_t, kPhases> phaseStart{}; // first index of each phase
  std::vector<sim::Op> ops;                   // direction of every transaction
  // Transactions of one erase, write and verify attempt.
  uint64_t AttemptLength() const;
  // The phase of `index`; past the clean run's end, as in the attempt it falls in.
  Phase PhaseOf(uint64_t index) const;
};

// Runs the target without faults and finds its phases; false (with `error`) if the clean run
// does not succeed or its phases cannot be found.
bool LearnReference(const Target &target, Reference *reference, std::string *error);
// The reference of "CID:PID", learnt once per process, for tests that fault a transaction of a
// phase; aborts, saying why, when it cannot be learnt.
const Reference &LearntReference(const std::string &text);

struct Fault {
  FaultKind kind;
  uint64_t index;
};

// Exit 0, 248, 255, 254 and anything else.
enum class Outcome : uint8_t { Success, Failure, ChipIdFailure, NotErased, Other };
constexpr int kOutcomes = 5;

// The key-area backup variable after a run.
enum class Backup : uint8_t { None, Original, Other };
// The backup and marker planted before the run: none, this chip's, another chip's.
enum class Planted : uint8_t { None, Own, Other };

// What the chip and the variable store hold after a run.
struct Left {
  bool flashHoldsImage = false;
  bool keyIntact = false; // every byte of the chip's own key area
  Backup backup = Backup::None;
};

// What the clean retry after a failed run left behind.
struct RetryFacts : Left {
  int64_t status = 0;
  bool success = false;  // "upgrade success" printed
  bool restored = false; // "restored from backup" printed
  bool lostStop = false; // a stop saying the key area is lost: blank, or the last update unfinished
  bool foreignStop = false; // a stop saying the backup belongs to another chip
  uint32_t erases = 0;      // erases the retry itself issued
};

// Everything one faulted run left behind that the rules look at.
struct RunFacts : Left {
  int64_t status = 0;
  bool struck = false; // the fault met a transaction it applies to
  bool poolBalanced = false;
  std::string text; // everything the tool printed but the progress line, narrow
  std::vector<uint8_t> ec;
  std::vector<uint8_t> statusCodes; // CMOS 0x79 writes in order
  uint8_t cmosStatus = 0;
  FirmwareVersion cmosVersion{};
  bool flashUntouched = false; // flash exactly as before the run
  uint32_t erases = 0;
  uint64_t busFailures = 0; // transfers that failed on the bus (none are issued once given up)
  Planted planted = Planted::None;
  bool backupLost = false;  // the backup was removed before the retry
  bool mustSucceed = false; // the fault left the run a clean attempt
  bool mustFail = false;    // the fault leaves no attempt a clean read-back
  RetryFacts retry;         // only after a failed run
};

RunFacts RunWithFault(const Target &target, const Fault &fault);

// The schedule panelupctl leaves for a boot option's run: return at the end, `attempts` attempts.
void PlantSchedule(sim::HostPlatform &platform, uint8_t attempts);

} // namespace sweep

// The host platform for tests: a UEFI system table (ConOut with an 80x25 screen model, boot
// services with pool accounting, a handle database and Stall, runtime services with a variable
// store), the CMOS and EC ports, and SMBus host controllers with the bridge chip model behind the
// first. Run() starts the tool's EfiMain on it.
//
//   sim::HostPlatform p;                      // defaults: LT7911D with version 2.6.12, 100 kHz
//   EXPECT_EQ(p.Run({"Panelup.efi", "/s"}), 22);
//   EXPECT_NE(p.ScreenText().find("02.06.12"), std::string::npos);
//   EXPECT_TRUE(p.PoolBalanced());
//
// One platform lives at a time: the constructor makes it the active one (the UEFI services
// and the port functions act on it), the destructor ends that. A platform may Run several times.
// Run() starts a new event log; the screen, CMOS, variables, the chip (flash and registers),
// simulated time and the pool accounting carry over, as they would on a machine between two shell
// commands.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/bridge_chip.h"
#include "sim/host/host_events.h"
#include "sim/sim_bus.h"
#include "uefi/system_table.h"

namespace sim {

constexpr int kScreenColumns = 80;
constexpr int kScreenRows = 25;
constexpr uint16_t kCmosIndexPort = 0x70;
constexpr uint16_t kCmosDataPort = 0x71;
constexpr uint8_t kCmosStatusIndex = 0x79; // the byte the update writes its progress codes to
constexpr uint16_t kEcCommandPort = 0x66;

// Where the image handle carries the run's arguments.
enum class ArgumentSource {
  ShellParameters, // EFI_SHELL_PARAMETERS_PROTOCOL (current shells)
  ShellInterface,  // only the older EFI_SHELL_INTERFACE
  LoadOptions,     // neither: only the loaded image's option string (space separated)
};

struct HostOptions {
  ChipConfig chip;
  BusFaults faults;
  uint32_t busHz = kDefaultBusHz;
  // Handles carrying the SMBus protocol: the chip sits behind the first; the others are
  // controllers with nothing on their bus. 0: none at all.
  int smbusControllers = 1;
  bool handleProtocolFails = false; // HandleProtocol(SMBus GUID) gives EFI_UNSUPPORTED
  bool simulatedBusMark = true;     // the controllers carry the simulator's mark (false: they
                                    // pass for a real machine's)
  ArgumentSource arguments = ArgumentSource::ShellParameters;
  // With LoadOptions: the option string as given (UTF-8), as a boot manager passes it, instead of
  // the run's arguments joined by spaces.
  std::optional<std::string> rawLoadOptions;
  // With LoadOptions: the option data's bytes exactly as stored (no conversion, no NUL added),
  // e.g. ASCII from efibootmgr without -u, or binary data. Takes precedence over rawLoadOptions.
  std::optional<std::string> loadOptionBytes;
  bool failAllAllocations = false;   // every AllocatePool gives EFI_OUT_OF_RESOURCES
  uint64_t failAllocationNumber = 0; // 1-based AllocatePool call (over the platform's life) that
                                     // fails; 0: none
  std::array<uint8_t, 128> cmos{};   // CMOS contents at power-on
  bool variableStoreFull = false;    // SetVariable writes give EFI_OUT_OF_RESOURCES; deletes work
  bool getVariableFails = false;     // GetVariable gives EFI_DEVICE_ERROR
  bool variableWritesLost = false;   // SetVariable writes report success and store nothing, as a
                                     // deferred or emulated NV store may
  bool variableDeletesFail = false;  // deletes give EFI_WRITE_PROTECTED
  EFI_TIME clock{2026, 12, 9, 14, 30, 5, 0, 0, 0, 0, 0}; // what GetTime gives
  bool getTimeFails = false;                             // GetTime gives EFI_DEVICE_ERROR
  bool setWakeupTimeFails = false; // SetWakeupTime gives EFI_UNSUPPORTED, as on the many machines
                                   // whose clock cannot switch them on
};

// What Run gives when the tool called ResetSystem, which does not return: the run ended there,
// with the ResetCall as its last event and everything else as it was at that moment.
constexpr int64_t kRunEndedByReset = INT64_MIN;

// A UEFI variable as the store keeps it.
struct StoredVariable {
  std::u16string name;
  EFI_GUID guid{};
  uint32_t attributes = 0;
  std::vector<uint8_t> data;
};

struct PoolStats {
  uint64_t outstandingCount = 0; // allocations not yet freed
  uint64_t outstandingBytes = 0;
  uint64_t peakBytes = 0;        // most bytes outstanding at once
  uint64_t totalAllocations = 0; // successful allocations
  uint64_t failedAllocations = 0;
  uint64_t frees = 0; // successful FreePool calls
};

class HostPlatform {
public:
  explicit HostPlatform(const HostOptions &options = {});
  ~HostPlatform();
  HostPlatform(const HostPlatform &) = delete;
  HostPlatform &operator=(const HostPlatform &) = delete;

  // Runs EfiMain with `args` (UTF-8, converted to UCS-2; args[0] is the program name) and returns
  // its EFI_STATUS as a signed value, or kRunEndedByReset.
  int64_t Run(const std::vector<std::string> &args);
  // Options stay live: allocation failures and handleProtocolFails are read at each call.
  HostOptions &Options();
  // A power cut: the machine and the chip go off and on again. The chip keeps its flash, CMOS and
  // non-volatile variables stay, volatile ones go, and the bus faults are cleared.
  void PowerCycle();

  // The last run, in order, and the events of one kind.
  const std::vector<Event> &Events() const;
  template <typename T> std::vector<T> Recorded() const {
    std::vector<T> out;
    for (const Event &e : Events())
      if (const T *t = std::get_if<T>(&e))
        out.push_back(*t);
    return out;
  }
  std::string OutputText() const; // every OutputString of the last run, concatenated, narrow

  // Screen. Text is narrow: non-ASCII characters show as '?', trailing spaces are trimmed.
  std::string RowText(int row) const;
  std::string ScreenText() const; // all rows, each followed by '\n'
  uint8_t AttributeAt(int column, int row) const;
  const SIMPLE_TEXT_OUTPUT_MODE &Mode() const; // cursor, its visibility, current attribute

  const PoolStats &Pool() const;
  const std::vector<std::string> &PoolErrors() const; // bad frees, described
  bool PoolBalanced() const;                          // nothing outstanding, no errors

  uint8_t Cmos(uint8_t index) const;
  void SetCmos(uint8_t index, uint8_t value);
  // From the last run's port accesses: the bytes sent to the EC, and the values written to CMOS
  // byte 0x79, each in order.
  std::vector<uint8_t> EcBytes() const;
  std::vector<uint8_t> StatusCodes() const;

  // Variables: kept across runs; the non-volatile ones across PowerCycle too.
  const StoredVariable *FindVariable(const std::u16string &name, const EFI_GUID &guid) const;
  void PutVariable(const StoredVariable &variable); // adds or replaces, bypassing the rules
  // Gone as after "load setup defaults" or a firmware update, which wipe the store.
  void RemoveVariable(const std::u16string &name, const EFI_GUID &guid);

  BridgeChip &Chip();
  SimBus &Bus(); // the controller the chip is behind
  // Every controller in handle order; Bus() is the first.
  std::vector<SimBus *> Controllers();
  uint64_t RunMicros() const; // simulated time the last run took (see gSimNowMicros)
  // The watchdog's timeout as the last run left it (0: off); each run starts with what its
  // launcher sets: 300 s from a boot option (LoadOptions), off from a shell.
  uint64_t WatchdogSeconds() const;

  // The UEFI system table as the tool sees it.
  EFI_SYSTEM_TABLE *SystemTable();

  struct State; // the platform's internals (host_state.h)

private:
  std::unique_ptr<State> state_;
};

} // namespace sim

// The host firmware for tests: a UEFI system table (ConOut with an 80x25 screen model, boot
// services with pool accounting, a handle database and Stall), the CMOS and EC ports, and an SMBus
// host controller with the bridge chip model behind it. Run() starts the tool's EfiMain on it.
//
//   sim::HostPlatform p;                      // defaults: LT7911D with version 2.6.12, 100 kHz
//   EXPECT_EQ(p.Run({"Panelup.efi", "/s"}), 22);
//   EXPECT_NE(p.ScreenText().find("02.06.12"), std::string::npos);
//   EXPECT_TRUE(p.PoolBalanced());
//
// One platform lives at a time: the constructor makes it the active one (the port functions and
// the firmware's services act on it), the destructor ends that. A platform may Run several times.
// Run() first clears the per-run records (console and output logs, bus trace and counters, stall
// list, port and EC logs); the screen, CMOS, the chip (flash and registers), simulated time and the
// pool accounting carry over, as they would on a machine between two shell commands.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/bridge_chip.h"
#include "sim/sim_bus.h"
#include "uefi/protocols.h"

namespace sim {

constexpr int kScreenColumns = 80;
constexpr int kScreenRows = 25;
constexpr uint16_t kCmosIndexPort = 0x70;
constexpr uint16_t kCmosDataPort = 0x71;
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
  bool smbusPresent = true;         // false: no handle carries the SMBus protocol
  bool handleProtocolFails = false; // HandleProtocol(SMBus GUID) gives EFI_UNSUPPORTED
  ArgumentSource arguments = ArgumentSource::ShellParameters;
  // With LoadOptions: the option string as given (UTF-8), as a boot manager passes it, instead of
  // the run's arguments joined by spaces.
  std::optional<std::string> rawLoadOptions;
  bool failAllAllocations = false;   // every AllocatePool gives EFI_OUT_OF_RESOURCES
  uint64_t failAllocationNumber = 0; // 1-based AllocatePool call (over the platform's life) that
                                     // fails; 0: none
  std::array<uint8_t, 128> cmos{};   // CMOS contents at power-on
  bool variableStoreFull = false;    // SetVariable writes give EFI_OUT_OF_RESOURCES; deletes work
  bool getVariableFails = false;     // GetVariable gives EFI_DEVICE_ERROR
};

// A UEFI variable as the store keeps it.
struct StoredVariable {
  std::u16string name;
  EFI_GUID guid{};
  uint32_t attributes = 0;
  std::vector<uint8_t> data;
};

// One call of the variable services, in the order made.
struct VariableCall {
  bool set = false; // SetVariable, else GetVariable
  std::u16string name;
  uint32_t attributes = 0; // SetVariable's argument
  uint64_t size = 0;       // SetVariable's size, or the buffer size GetVariable was given
  EFI_STATUS status = 0;
};

enum class ConsoleOp { OutputString, ClearScreen, SetCursorPosition, SetAttribute, EnableCursor };

// One ConOut call, in the order made. a/b: column/row, attribute, or visible (1/0).
struct ConsoleCall {
  ConsoleOp op;
  uint64_t a = 0;
  uint64_t b = 0;
  std::u16string text; // OutputString only
};

struct PoolStats {
  uint64_t outstandingCount = 0; // allocations not yet freed
  uint64_t outstandingBytes = 0;
  uint64_t peakBytes = 0;        // most bytes outstanding at once
  uint64_t totalAllocations = 0; // successful AllocatePool calls
  uint64_t failedAllocations = 0;
  uint64_t frees = 0; // successful FreePool calls
};

struct PortAccess {
  uint16_t port;
  bool write;
  uint8_t value;
  bool operator==(const PortAccess &) const = default;
};

class HostPlatform {
public:
  explicit HostPlatform(const HostOptions &options = {});
  ~HostPlatform();
  HostPlatform(const HostPlatform &) = delete;
  HostPlatform &operator=(const HostPlatform &) = delete;

  // The platform made by the living HostPlatform, or nullptr.
  static HostPlatform *Active();

  // Runs EfiMain with `args` (UTF-8, converted to UCS-2; args[0] is the program name) and returns
  // its EFI_STATUS as a signed value.
  int64_t Run(const std::vector<std::string> &args);

  // Options stay live: allocation failures and handleProtocolFails are read at each call.
  HostOptions &Options();

  // Screen. Text is narrow: non-ASCII characters show as '?', trailing spaces are trimmed.
  std::string RowText(int row) const;
  std::string ScreenText() const; // all rows, each followed by '\n'
  uint8_t AttributeAt(int column, int row) const;
  int CursorColumn() const;
  int CursorRow() const;
  bool CursorVisible() const;
  uint8_t Attribute() const; // current attribute
  const SIMPLE_TEXT_OUTPUT_MODE &Mode() const;

  // Console records of the last run.
  std::string OutputText() const; // every OutputString of the run, concatenated, narrow
  const std::vector<std::u16string> &OutputLog() const;
  const std::vector<ConsoleCall> &ConsoleLog() const; // all calls, OutputString included
  int CountCalls(ConsoleOp op) const;
  std::vector<uint64_t> AttributeSequence() const; // SetAttribute arguments in order

  // Pool.
  const PoolStats &Pool() const;
  const std::vector<std::string> &PoolErrors() const; // bad frees, described
  bool PoolBalanced() const;                          // nothing outstanding, no errors

  // Ports (of the last run) and CMOS.
  uint8_t Cmos(uint8_t index) const;
  void SetCmos(uint8_t index, uint8_t value);
  const std::array<uint8_t, 128> &CmosBytes() const;
  const std::vector<uint8_t> &EcLog() const;
  const std::vector<PortAccess> &PortLog() const;

  // Variables: kept across runs; the non-volatile ones across PowerCycle too.
  const StoredVariable *FindVariable(const std::u16string &name, const EFI_GUID &guid) const;
  void PutVariable(const StoredVariable &variable);     // adds or replaces, bypassing the rules
  const std::vector<VariableCall> &VariableLog() const; // calls of the last run

  // A power cut: the machine and the chip go off and on again. The chip keeps its flash, CMOS and
  // non-volatile variables stay, volatile ones go, and the bus faults are cleared.
  void PowerCycle();

  // Chip and bus. The trace holds every transaction of the last run.
  BridgeChip &Chip();
  SimBus &Bus();
  const std::vector<Transaction> &Trace() const;

  // Time.
  static uint64_t NowMicros(); // sim::gSimNowMicros
  uint64_t RunMicros() const;  // simulated time the last run took
  const std::vector<uint64_t> &Stalls() const;

  // The firmware as the tool sees it.
  EFI_SYSTEM_TABLE *SystemTable();
  EFI_HANDLE ImageHandle() const;

  // Port accesses, for the port functions of platform/port_io.h.
  uint8_t PortRead(uint16_t port);
  void PortWrite(uint16_t port, uint8_t value);

  struct State; // the firmware's internals (host_firmware.h)

private:
  std::unique_ptr<State> state_;
};

// UTF-8 to UCS-2 (invalid sequences become U+FFFD, code points above 0xFFFF surrogate pairs), and
// UCS-2 to narrow text with non-ASCII characters as '?'.
std::u16string Utf8ToUcs2(const std::string &text);
std::string Narrow(const std::u16string &text);

} // namespace sim

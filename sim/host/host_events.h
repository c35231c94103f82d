// What the host platform saw during a run, as one ordered log: console calls, SMBus
// transactions, port accesses, Stall calls, pool calls, variable calls, the watchdog, the wake
// alarm and the reset, each an Event in the order made, so a test can state a whole run as the
// list of what happened.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "sim/sim_bus.h"
#include "uefi/runtime_services.h"

namespace sim {

enum class ConsoleOp : uint8_t {
  OutputString,
  ClearScreen,
  SetCursorPosition,
  SetAttribute,
  EnableCursor
};

// One ConOut call. a/b: column/row, attribute, or visible (1/0).
struct ConsoleCall {
  ConsoleOp op;
  uint64_t a = 0;
  uint64_t b = 0;
  std::u16string text; // OutputString only
};

struct PortAccess {
  uint16_t port;
  bool write;
  uint8_t value;
  bool operator==(const PortAccess &) const = default;
};

struct StallCall {
  uint64_t micros;
};

// AllocatePool, the handle list LocateHandleBuffer takes from the pool, or FreePool.
struct PoolCall {
  bool allocate = false;
  uint64_t size = 0; // for FreePool, the size of the block freed (0 when it was no block)
  EFI_STATUS status = 0;
};

// GetVariable or SetVariable.
struct VariableCall {
  bool set = false;
  std::u16string name;
  uint32_t attributes = 0; // SetVariable's argument
  uint64_t size = 0;       // SetVariable's size, or the buffer size GetVariable was given
  EFI_STATUS status = 0;
};

// SetWatchdogTimer: the timeout it was given, 0 to disarm.
struct WatchdogCall {
  uint64_t seconds = 0;
};

// SetWakeupTime.
struct WakeupCall {
  bool enable = false;
  EFI_TIME time{}; // as given (zero when none was)
  EFI_STATUS status = 0;
};

// ResetSystem: always the run's last event.
struct ResetCall {
  EFI_RESET_TYPE type = EfiResetCold;
};

using Event = std::variant<ConsoleCall, Transaction, PortAccess, StallCall, PoolCall, VariableCall,
                           WatchdogCall, WakeupCall, ResetCall>;

} // namespace sim

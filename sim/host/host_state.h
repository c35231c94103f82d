// Internals of the host platform, shared by its source files: the UEFI services' state and the
// parts that build the system table. Tests use host_platform.h instead.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/host/host_platform.h"
#include "uefi/loaded_image.h"
#include "uefi/shell_interface.h"
#include "uefi/shell_parameters.h"

namespace sim {

struct HostPlatform::State {
  HostOptions options;
  std::vector<Event> events; // the current run's

  // ConOut and its screen model.
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL conOut{};
  SIMPLE_TEXT_OUTPUT_MODE mode{};
  char16_t screen[kScreenRows][kScreenColumns]{};
  uint8_t attributes[kScreenRows][kScreenColumns]{};

  // Boot services and the system table.
  EFI_BOOT_SERVICES bootServices{};
  EFI_SYSTEM_TABLE systemTable{};
  EFI_RUNTIME_SERVICES runtimeServices{};
  std::vector<StoredVariable> variables;
  struct PoolBlock {
    size_t size;
    bool freed;
    std::unique_ptr<uint8_t[]> memory; // kept after FreePool, so an address is never reused
  };
  std::map<const void *, PoolBlock> pool;
  PoolStats poolStats;
  std::vector<std::string> poolErrors;
  uint64_t allocationCalls = 0;
  struct Handle {
    std::vector<std::pair<EFI_GUID, void *>> protocols;
  };
  std::vector<std::unique_ptr<Handle>> handles;

  // The image and its arguments.
  EFI_HANDLE image = nullptr;
  EFI_SHELL_PARAMETERS_PROTOCOL shellParameters{};
  EFI_SHELL_INTERFACE shellInterface{};
  EFI_LOADED_IMAGE_PROTOCOL loadedImage{};
  std::vector<std::u16string> argumentText;
  std::vector<CHAR16 *> argumentVector;
  std::u16string loadOptions;
  std::string loadOptionBytes;

  uint64_t watchdogSeconds = 0; // as SetWatchdogTimer last left it

  // Ports.
  std::array<uint8_t, 128> cmos{};
  uint8_t cmosIndex = 0;

  // The SMBus controllers; the chip is behind the first.
  std::unique_ptr<BridgeChip> chip;
  std::vector<std::unique_ptr<SimBus>> buses;

  uint64_t runStartMicros = 0;
  uint64_t runEndMicros = 0;
};

// The state of the active platform; its UEFI services act on it.
HostPlatform::State &ActiveState();

// Thrown by ResetSystem through the tool's frames, caught by Run: a reset does not return.
struct ResetUnwind {};

void InstallConsole(HostPlatform::State &s);
void InstallBootServices(HostPlatform::State &s);
void InstallRuntimeServices(HostPlatform::State &s);
void InstallPorts(HostPlatform::State &s);
// Adds `iface` under `guid` to *handle, making a new handle when *handle is nullptr.
EFI_STATUS AddProtocol(HostPlatform::State &s, EFI_HANDLE *handle, const EFI_GUID &guid,
                       void *iface);

} // namespace sim

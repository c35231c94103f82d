// The host platform assembled and run: the system table, the image and SMBus handles and the
// chip, then the tool's entry on them.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sim/host/host_state.h"
#include "sim/host/port_hook.h"
#include "sim/host/text.h"
#include "app/entry.h"
#include "chip/registers.h"

namespace sim {
namespace {

HostPlatform::State *gActiveState = nullptr;

void RecordTransaction(void *context, const Transaction &t) {
  static_cast<HostPlatform::State *>(context)->events.emplace_back(t);
}

void InstallSystemTable(HostPlatform::State &s) {
  EFI_SYSTEM_TABLE &st = s.systemTable;
  st.Hdr.Signature = 0x5453595320494249ull; // "IBI SYST"
  st.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  st.FirmwareVendor = const_cast<CHAR16 *>(u"Panelup host platform");
  st.ConOut = &s.conOut;
  st.StdErr = &s.conOut;
  st.BootServices = &s.bootServices;
  st.RuntimeServices = &s.runtimeServices;
}

void InstallImage(HostPlatform::State &s) {
  s.loadedImage.Revision = 0x1000;
  s.loadedImage.SystemTable = &s.systemTable;
  AddProtocol(s, &s.image, kLoadedImageProtocolGuid, &s.loadedImage);
  switch (s.options.arguments) {
  case ArgumentSource::ShellParameters:
    AddProtocol(s, &s.image, kShellParametersProtocolGuid, &s.shellParameters);
    break;
  case ArgumentSource::ShellInterface:
    s.shellInterface.ImageHandle = s.image;
    AddProtocol(s, &s.image, kShellInterfaceGuid, &s.shellInterface);
    break;
  case ArgumentSource::LoadOptions:
    break;
  }
}

// The chip is behind the first controller; every controller records what reaches its chip.
void InstallSmbus(HostPlatform::State &s) {
  s.chip = std::make_unique<BridgeChip>();
  ChipPowerOn(*s.chip, s.options.chip);
  // A bus even with no controller installed, so Bus() always has one to show.
  const int buses = std::max(1, s.options.smbusControllers);
  for (int i = 0; i < buses; ++i) {
    s.buses.push_back(std::make_unique<SimBus>());
    SimBus &bus = *s.buses.back();
    BusInit(bus, i == 0 ? s.chip.get() : nullptr);
    bus.faults = s.options.faults;
    bus.busHz = s.options.busHz;
    bus.observer = RecordTransaction;
    bus.observerContext = &s;
    if (i < s.options.smbusControllers) {
      EFI_HANDLE controller = nullptr;
      AddProtocol(s, &controller, kSmbusHcProtocolGuid, &bus.protocol);
      if (s.options.simulatedBusMark)
        AddProtocol(s, &controller, kSimulatedBusMarkGuid, nullptr);
    }
  }
}

// Puts the run's arguments on the image handle in every form the image carries.
void SetArguments(HostPlatform::State &s, const std::vector<std::string> &args) {
  s.argumentText.clear();
  for (const std::string &a : args)
    s.argumentText.push_back(Utf8ToUcs2(a));
  s.argumentVector.clear();
  for (std::u16string &a : s.argumentText)
    s.argumentVector.push_back(a.data());
  s.argumentVector.push_back(nullptr);
  s.shellParameters.Argv = s.argumentVector.data();
  s.shellParameters.Argc = args.size();
  s.shellInterface.Argv = s.argumentVector.data();
  s.shellInterface.Argc = args.size();
  s.loadOptions.clear();
  for (size_t i = 0; i < s.argumentText.size(); ++i) {
    if (i > 0)
      s.loadOptions += u' ';
    s.loadOptions += s.argumentText[i];
  }
  if (s.options.rawLoadOptions)
    s.loadOptions = Utf8ToUcs2(*s.options.rawLoadOptions);
  s.loadedImage.LoadOptions = s.loadOptions.data();
  s.loadedImage.LoadOptionsSize = static_cast<uint32_t>((s.loadOptions.size() + 1) * 2);
  if (s.options.loadOptionBytes) {
    s.loadOptionBytes = *s.options.loadOptionBytes;
    s.loadedImage.LoadOptions = s.loadOptionBytes.data();
    s.loadedImage.LoadOptionsSize = static_cast<uint32_t>(s.loadOptionBytes.size());
  }
}

} // namespace

HostPlatform::State &ActiveState() {
  if (gActiveState == nullptr) {
    std::fprintf(stderr, "sim: UEFI service called with no HostPlatform alive\n");
    std::abort();
  }
  return *gActiveState;
}

HostPlatform::HostPlatform(const HostOptions &options) : state_(std::make_unique<State>()) {
  if (gActiveState != nullptr) {
    std::fprintf(stderr, "sim: only one HostPlatform may live at a time\n");
    std::abort();
  }
  gActiveState = state_.get();
  gSimNowMicros = 0;
  State &s = *state_;
  s.options = options;
  s.cmos = options.cmos;
  InstallConsole(s);
  InstallBootServices(s);
  InstallRuntimeServices(s);
  InstallPorts(s);
  InstallSystemTable(s);
  InstallImage(s);
  InstallSmbus(s);
}

HostPlatform::~HostPlatform() {
  gActiveState = nullptr;
  gPortHook = PortHook{};
}

int64_t HostPlatform::Run(const std::vector<std::string> &args) {
  State &s = *state_;
  s.events.clear();
  for (const auto &bus : s.buses)
    BusResetCounters(*bus);
  SetArguments(s, args);
  // The watchdog as the launcher leaves it: the boot manager arms five minutes before a boot
  // option, the shell disarms it for its commands.
  s.watchdogSeconds = s.options.arguments == ArgumentSource::LoadOptions ? 300 : 0;
  s.runStartMicros = gSimNowMicros;
  int64_t status = kRunEndedByReset;
  try {
    status = static_cast<int64_t>(EfiMain(s.image, &s.systemTable));
  } catch (const ResetUnwind &) {
    // The tool's frames are gone, as they are on a machine; what it left stays to be looked at.
  }
  s.runEndMicros = gSimNowMicros;
  return status;
}

HostOptions &HostPlatform::Options() {
  return state_->options;
}

void HostPlatform::PowerCycle() {
  State &s = *state_;
  ChipPowerCycle(*s.chip);
  s.options.faults = BusFaults{};
  for (const auto &bus : s.buses)
    bus->faults = s.options.faults;
  std::erase_if(s.variables, [](const StoredVariable &v) {
    return (v.attributes & EFI_VARIABLE_NON_VOLATILE) == 0;
  });
}

} // namespace sim

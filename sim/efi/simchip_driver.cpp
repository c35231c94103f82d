// SimChip.efi: a boot-service driver that gives the firmware an SMBus host controller with the
// simulated bridge chip behind it, and the control protocol simctl.efi uses to reach the model.
// The chip and bus live in static storage for as long as the driver stays loaded.
#include "sim/efi/sim_control.h"
#include "uefi/firmware.h"

namespace {

constinit sim::BridgeChip gChip{};
constinit sim::SimBus gBus{};
constinit EFI_SMBUS_HC_PROTOCOL gSmbus{};
constinit SIM_CONTROL_PROTOCOL gControl{};

constexpr uint32_t kNativeInterface = 0; // EFI_NATIVE_INTERFACE
constexpr UINTN kCalibrationMicros = 10000;

uint64_t gLoadTsc = 0;
uint64_t gTscPerMicro = 1;

uint64_t ReadTsc() {
  uint32_t low, high;
  __asm__ __volatile__("rdtsc" : "=a"(low), "=d"(high));
  return (static_cast<uint64_t>(high) << 32) | low;
}

// The model's clock follows real time as well as modelled bus time: the tool waits with Stall
// (after the erase, for one) and the model must see that wait pass.
void CatchUpWithRealTime() {
  uint64_t elapsed = (ReadTsc() - gLoadTsc) / gTscPerMicro;
  if (elapsed > sim::gSimNowMicros)
    sim::gSimNowMicros = elapsed;
}

EFI_STATUS EFIAPI ClockedExecute(const EFI_SMBUS_HC_PROTOCOL * /*This*/,
                                 EFI_SMBUS_DEVICE_ADDRESS slaveAddress, UINTN command,
                                 EFI_SMBUS_OPERATION operation, BOOLEAN pecCheck, UINTN *length,
                                 void *buffer) {
  CatchUpWithRealTime();
  // The bus adds its own transfer time to the clock.
  return gBus.protocol.Execute(&gBus.protocol, slaveAddress, command, operation, pecCheck, length,
                               buffer);
}

void EFIAPI PowerOn(SIM_CONTROL_PROTOCOL * /*This*/) {
  // A copy: ChipPowerOn overwrites the chip, configuration included.
  sim::ChipConfig config = gChip.config;
  sim::ChipPowerOn(gChip, config);
  sim::BusResetCounters(gBus);
}

void CalibrateClock() {
  uint64_t start = ReadTsc();
  Stall(kCalibrationMicros);
  uint64_t end = ReadTsc();
  uint64_t perMicro = (end - start) / kCalibrationMicros;
  gTscPerMicro = perMicro > 0 ? perMicro : 1;
  gLoadTsc = end;
  sim::gSimNowMicros = 0;
}

} // namespace

extern "C" EFI_STATUS EFIAPI SimChipEntry(EFI_HANDLE image, EFI_SYSTEM_TABLE *systemTable) {
  SetFirmware(image, systemTable);
  CalibrateClock();

  sim::ChipPowerOn(gChip, sim::ChipConfig{});
  sim::BusInit(gBus, &gChip);
  gSmbus.Execute = ClockedExecute;
  gSmbus.ArpDevice = nullptr;
  gSmbus.GetArpMap = nullptr;
  gSmbus.Notify = nullptr;

  gControl.Version = kSimControlVersion;
  gControl.ChipSize = sizeof(sim::BridgeChip);
  gControl.BusSize = sizeof(sim::SimBus);
  gControl.Chip = &gChip;
  gControl.Bus = &gBus;
  gControl.PowerOn = PowerOn;

  EFI_HANDLE handle = nullptr;
  EFI_STATUS status =
      gBS->InstallProtocolInterface(&handle, &kSmbusHcProtocolGuid, kNativeInterface, &gSmbus);
  if (EfiIsError(status))
    return status;
  // Once the SMBus protocol is out the driver must stay resident, so a failure here only leaves
  // simctl without its protocol (it then reports SimChip as not loaded).
  gBS->InstallProtocolInterface(&handle, &kSimControlProtocolGuid, kNativeInterface, &gControl);
  return EFI_SUCCESS;
}

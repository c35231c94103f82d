// What tests ask the host platform after a run: its event log, the screen, the pool, CMOS and the
// chip and bus.
#include "sim/host/host_state.h"
#include "sim/host/text.h"

namespace sim {

const std::vector<Event> &HostPlatform::Events() const {
  return state_->events;
}

std::string HostPlatform::OutputText() const {
  std::string text;
  for (const ConsoleCall &c : Recorded<ConsoleCall>())
    text += Narrow(c.text);
  return text;
}

std::string HostPlatform::RowText(int row) const {
  if (row < 0 || row >= kScreenRows)
    return {};
  std::string narrow = Narrow(std::u16string(state_->screen[row], kScreenColumns));
  while (!narrow.empty() && narrow.back() == ' ')
    narrow.pop_back();
  return narrow;
}

std::string HostPlatform::ScreenText() const {
  std::string text;
  for (int r = 0; r < kScreenRows; ++r)
    text += RowText(r) + "\n";
  return text;
}

uint8_t HostPlatform::AttributeAt(int column, int row) const {
  if (row < 0 || row >= kScreenRows || column < 0 || column >= kScreenColumns)
    return 0;
  return state_->attributes[row][column];
}

const SIMPLE_TEXT_OUTPUT_MODE &HostPlatform::Mode() const {
  return state_->mode;
}

const PoolStats &HostPlatform::Pool() const {
  return state_->poolStats;
}

const std::vector<std::string> &HostPlatform::PoolErrors() const {
  return state_->poolErrors;
}

bool HostPlatform::PoolBalanced() const {
  return state_->poolStats.outstandingCount == 0 && state_->poolErrors.empty();
}

uint8_t HostPlatform::Cmos(uint8_t index) const {
  return state_->cmos[index & 0x7F];
}

void HostPlatform::SetCmos(uint8_t index, uint8_t value) {
  state_->cmos[index & 0x7F] = value;
}

std::vector<uint8_t> HostPlatform::EcBytes() const {
  std::vector<uint8_t> bytes;
  for (const PortAccess &a : Recorded<PortAccess>())
    if (a.write && a.port == kEcCommandPort)
      bytes.push_back(a.value);
  return bytes;
}

std::vector<uint8_t> HostPlatform::StatusCodes() const {
  std::vector<uint8_t> codes;
  const std::vector<PortAccess> log = Recorded<PortAccess>();
  for (size_t i = 0; i + 1 < log.size(); ++i)
    if (log[i].port == kCmosIndexPort && log[i].write && log[i].value == kCmosStatusIndex &&
        log[i + 1].port == kCmosDataPort && log[i + 1].write)
      codes.push_back(log[i + 1].value);
  return codes;
}

BridgeChip &HostPlatform::Chip() {
  return *state_->chip;
}

SimBus &HostPlatform::Bus() {
  return *state_->buses.front();
}

std::vector<SimBus *> HostPlatform::Controllers() {
  std::vector<SimBus *> buses;
  for (auto &bus : state_->buses)
    buses.push_back(bus.get());
  return buses;
}

uint64_t HostPlatform::RunMicros() const {
  return state_->runEndMicros - state_->runStartMicros;
}

uint64_t HostPlatform::WatchdogSeconds() const {
  return state_->watchdogSeconds;
}

EFI_SYSTEM_TABLE *HostPlatform::SystemTable() {
  return &state_->systemTable;
}

} // namespace sim

// The host platform: builds the system table, the image and SMBus handles and the chip, runs the
// tool's entry, and answers the tests' questions.
#include <cstdlib>
#include <cstdio>

#include "sim/host/host_firmware.h"
#include "uefi/entry.h"

namespace sim {
namespace {

HostPlatform *gActive = nullptr;
HostPlatform::State *gActiveState = nullptr;

void RecordTransaction(void *context, const Transaction &t) {
  static_cast<HostPlatform::State *>(context)->trace.push_back(t);
}

void InstallSystemTable(HostPlatform::State &s) {
  EFI_SYSTEM_TABLE &st = s.systemTable;
  st.Hdr.Signature = 0x5453595320494249ull; // "IBI SYST"
  st.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  st.FirmwareVendor = const_cast<CHAR16 *>(u"Panelup host firmware");
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

void InstallSmbus(HostPlatform::State &s) {
  s.chip = std::make_unique<BridgeChip>();
  ChipPowerOn(*s.chip, s.options.chip);
  BusInit(s.bus, s.chip.get());
  s.bus.faults = s.options.faults;
  s.bus.busHz = s.options.busHz;
  s.bus.observer = RecordTransaction;
  s.bus.observerContext = &s;
  if (s.options.smbusPresent) {
    EFI_HANDLE controller = nullptr;
    AddProtocol(s, &controller, kSmbusHcProtocolGuid, &s.bus.protocol);
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
}

} // namespace

HostPlatform::State &ActiveState() {
  if (gActiveState == nullptr) {
    std::fprintf(stderr, "sim: firmware service called with no HostPlatform alive\n");
    std::abort();
  }
  return *gActiveState;
}

HostPlatform::HostPlatform(const HostOptions &options) : state_(std::make_unique<State>()) {
  if (gActive != nullptr) {
    std::fprintf(stderr, "sim: only one HostPlatform may live at a time\n");
    std::abort();
  }
  gActive = this;
  gActiveState = state_.get();
  gSimNowMicros = 0;
  State &s = *state_;
  s.options = options;
  s.cmos = options.cmos;
  InstallConsole(s);
  InstallBootServices(s);
  InstallRuntimeServices(s);
  InstallSystemTable(s);
  InstallImage(s);
  InstallSmbus(s);
}

HostPlatform::~HostPlatform() {
  gActive = nullptr;
  gActiveState = nullptr;
}

HostPlatform *HostPlatform::Active() {
  return gActive;
}

int64_t HostPlatform::Run(const std::vector<std::string> &args) {
  State &s = *state_;
  s.consoleLog.clear();
  s.outputLog.clear();
  s.trace.clear();
  s.stalls.clear();
  s.ecLog.clear();
  s.portLog.clear();
  s.variableLog.clear();
  BusResetCounters(s.bus);
  SetArguments(s, args);
  s.runStartMicros = gSimNowMicros;
  EFI_STATUS status = EfiMain(s.image, &s.systemTable);
  s.runEndMicros = gSimNowMicros;
  return static_cast<int64_t>(status);
}

void HostPlatform::PowerCycle() {
  State &s = *state_;
  ChipPowerCycle(*s.chip);
  s.options.faults = BusFaults{};
  s.bus.faults = s.options.faults;
  std::erase_if(s.variables, [](const StoredVariable &v) {
    return (v.attributes & EFI_VARIABLE_NON_VOLATILE) == 0;
  });
}

HostOptions &HostPlatform::Options() {
  return state_->options;
}

std::string HostPlatform::RowText(int row) const {
  if (row < 0 || row >= kScreenRows)
    return {};
  std::u16string text(state_->screen[row], kScreenColumns);
  std::string narrow = Narrow(text);
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

int HostPlatform::CursorColumn() const {
  return state_->mode.CursorColumn;
}
int HostPlatform::CursorRow() const {
  return state_->mode.CursorRow;
}
bool HostPlatform::CursorVisible() const {
  return state_->mode.CursorVisible != 0;
}
uint8_t HostPlatform::Attribute() const {
  return static_cast<uint8_t>(state_->mode.Attribute);
}
const SIMPLE_TEXT_OUTPUT_MODE &HostPlatform::Mode() const {
  return state_->mode;
}

std::string HostPlatform::OutputText() const {
  std::string text;
  for (const std::u16string &s : state_->outputLog)
    text += Narrow(s);
  return text;
}

const std::vector<std::u16string> &HostPlatform::OutputLog() const {
  return state_->outputLog;
}
const std::vector<ConsoleCall> &HostPlatform::ConsoleLog() const {
  return state_->consoleLog;
}

int HostPlatform::CountCalls(ConsoleOp op) const {
  int n = 0;
  for (const ConsoleCall &c : state_->consoleLog)
    if (c.op == op)
      ++n;
  return n;
}

std::vector<uint64_t> HostPlatform::AttributeSequence() const {
  std::vector<uint64_t> sequence;
  for (const ConsoleCall &c : state_->consoleLog)
    if (c.op == ConsoleOp::SetAttribute)
      sequence.push_back(c.a);
  return sequence;
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
const std::array<uint8_t, 128> &HostPlatform::CmosBytes() const {
  return state_->cmos;
}
const std::vector<uint8_t> &HostPlatform::EcLog() const {
  return state_->ecLog;
}
const std::vector<PortAccess> &HostPlatform::PortLog() const {
  return state_->portLog;
}

BridgeChip &HostPlatform::Chip() {
  return *state_->chip;
}
SimBus &HostPlatform::Bus() {
  return state_->bus;
}
const std::vector<Transaction> &HostPlatform::Trace() const {
  return state_->trace;
}

uint64_t HostPlatform::NowMicros() {
  return gSimNowMicros;
}
uint64_t HostPlatform::RunMicros() const {
  return state_->runEndMicros - state_->runStartMicros;
}
const std::vector<uint64_t> &HostPlatform::Stalls() const {
  return state_->stalls;
}

EFI_SYSTEM_TABLE *HostPlatform::SystemTable() {
  return &state_->systemTable;
}
EFI_HANDLE HostPlatform::ImageHandle() const {
  return state_->image;
}

std::u16string Utf8ToUcs2(const std::string &text) {
  std::u16string out;
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const unsigned char *end = p + text.size();
  while (p < end) {
    uint32_t c = *p++;
    int more = 0;
    uint32_t min = 0;
    if (c >= 0xF0 && c <= 0xF4) {
      more = 3, c &= 0x07, min = 0x10000;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2, c &= 0x0F, min = 0x800;
    } else if (c >= 0xC2 && c <= 0xDF) {
      more = 1, c &= 0x1F, min = 0x80;
    } else if (c >= 0x80) {
      out += u'\uFFFD';
      continue;
    }
    bool ok = true;
    for (int i = 0; i < more; ++i) {
      if (p >= end || (*p & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (*p++ & 0x3F);
    }
    if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += u'\uFFFD';
    } else if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Narrow(const std::u16string &text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t c : text)
    out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

} // namespace sim

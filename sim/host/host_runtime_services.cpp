// Runtime services of the host platform: a clock with a wake alarm, a variable store with the
// UEFI rules on names, attributes and sizes, injected failures, and ResetSystem, which ends the
// run. Nothing else of the table is provided.
#include <algorithm>
#include <cstring>

#include "sim/host/host_state.h"

namespace sim {
namespace {

constexpr uint32_t kKnownAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

std::u16string NameOf(const CHAR16 *name) {
  std::u16string text;
  for (const CHAR16 *c = name; *c != 0; ++c)
    text += *c;
  return text;
}

std::vector<StoredVariable>::iterator Find(HostPlatform::State &s, const std::u16string &name,
                                           const EFI_GUID &guid) {
  return std::find_if(s.variables.begin(), s.variables.end(), [&](const StoredVariable &v) {
    return v.name == name && GuidEqual(v.guid, guid);
  });
}

EFI_STATUS Get(HostPlatform::State &s, const CHAR16 *name, const EFI_GUID *guid,
               uint32_t *attributes, UINTN *size, void *data) {
  if (name == nullptr || guid == nullptr || size == nullptr || (*size != 0 && data == nullptr))
    return EFI_INVALID_PARAMETER;
  if (s.options.getVariableFails)
    return EFI_DEVICE_ERROR;
  auto it = Find(s, NameOf(name), *guid);
  if (it == s.variables.end())
    return EFI_NOT_FOUND;
  if (*size < it->data.size()) {
    *size = it->data.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(data, it->data.data(), it->data.size());
  *size = it->data.size();
  if (attributes != nullptr)
    *attributes = it->attributes;
  return EFI_SUCCESS;
}

EFI_STATUS Set(HostPlatform::State &s, const CHAR16 *name, const EFI_GUID *guid,
               uint32_t attributes, UINTN size, const void *data) {
  if (name == nullptr || name[0] == 0 || guid == nullptr || (size != 0 && data == nullptr))
    return EFI_INVALID_PARAMETER;
  if ((attributes & ~kKnownAttributes) != 0)
    return EFI_INVALID_PARAMETER;
  if ((attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0 &&
      (attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) == 0)
    return EFI_INVALID_PARAMETER;
  auto it = Find(s, NameOf(name), *guid);
  // No access bits, or no data: a delete.
  bool erase = size == 0 || (attributes & kKnownAttributes & ~EFI_VARIABLE_NON_VOLATILE) == 0;
  if (it != s.variables.end() && attributes != 0 && attributes != it->attributes)
    return EFI_INVALID_PARAMETER;
  if (erase) {
    if (it == s.variables.end())
      return EFI_NOT_FOUND;
    if (s.options.variableDeletesFail)
      return EFI_WRITE_PROTECTED;
    s.variables.erase(it);
    return EFI_SUCCESS;
  }
  if (s.options.variableStoreFull)
    return EFI_OUT_OF_RESOURCES;
  if (s.options.variableWritesLost)
    return EFI_SUCCESS;
  const auto *bytes = static_cast<const uint8_t *>(data);
  if (it != s.variables.end())
    s.variables.erase(it);
  s.variables.push_back(StoredVariable{NameOf(name), *guid, attributes, {bytes, bytes + size}});
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetVariable(const CHAR16 *name, const EFI_GUID *guid, uint32_t *attributes,
                              UINTN *size, void *data) {
  HostPlatform::State &s = ActiveState();
  UINTN given = size ? *size : 0;
  EFI_STATUS status = Get(s, name, guid, attributes, size, data);
  s.events.emplace_back(VariableCall{false, name ? NameOf(name) : u"", 0, given, status});
  return status;
}

EFI_STATUS EFIAPI SetVariable(const CHAR16 *name, const EFI_GUID *guid, uint32_t attributes,
                              UINTN size, const void *data) {
  HostPlatform::State &s = ActiveState();
  EFI_STATUS status = Set(s, name, guid, attributes, size, data);
  s.events.emplace_back(VariableCall{true, name ? NameOf(name) : u"", attributes, size, status});
  return status;
}

EFI_STATUS EFIAPI GetTime(EFI_TIME *time, void * /*capabilities*/) {
  const HostPlatform::State &s = ActiveState();
  if (time == nullptr)
    return EFI_INVALID_PARAMETER;
  if (s.options.getTimeFails)
    return EFI_DEVICE_ERROR;
  *time = s.options.clock;
  return EFI_SUCCESS;
}

// What a real-time clock takes: a date the calendar has, in EFI_TIME's range. Written apart from
// the tool's own calendar, so an alarm the tool computes wrong is refused here.
bool ClockTakes(const EFI_TIME &t) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t.Year < 1900 || t.Year > 9999 || t.Month < 1 || t.Month > 12 || t.Hour > 23 ||
      t.Minute > 59 || t.Second > 59 || t.Nanosecond > 999999999)
    return false;
  const bool leap = (t.Year % 4 == 0 && t.Year % 100 != 0) || t.Year % 400 == 0;
  return t.Day >= 1 && t.Day <= kDays[t.Month - 1] + (t.Month == 2 && leap ? 1 : 0);
}

EFI_STATUS EFIAPI SetWakeupTime(BOOLEAN enable, EFI_TIME *time) {
  HostPlatform::State &s = ActiveState();
  EFI_STATUS status = EFI_SUCCESS;
  if (enable && (time == nullptr || !ClockTakes(*time)))
    status = EFI_INVALID_PARAMETER;
  else if (s.options.setWakeupTimeFails)
    status = EFI_UNSUPPORTED;
  s.events.emplace_back(WakeupCall{enable != 0, time ? *time : EFI_TIME{}, status});
  return status;
}

// Never returns: the run ends here, as a machine's does (HostPlatform::Run catches it).
void EFIAPI ResetSystem(EFI_RESET_TYPE type, EFI_STATUS /*status*/, UINTN /*size*/,
                        void * /*data*/) {
  ActiveState().events.emplace_back(ResetCall{type});
  throw ResetUnwind{};
}

} // namespace

void InstallRuntimeServices(HostPlatform::State &s) {
  EFI_RUNTIME_SERVICES &rt = s.runtimeServices;
  rt.Hdr.Signature = 0x56524553544E5552ull; // "RUNTSERV"
  rt.Hdr.HeaderSize = sizeof(EFI_RUNTIME_SERVICES);
  rt.GetTime = GetTime;
  rt.SetWakeupTime = SetWakeupTime;
  rt.ResetSystem = ResetSystem;
  rt.GetVariable = GetVariable;
  rt.SetVariable = SetVariable;
}

const StoredVariable *HostPlatform::FindVariable(const std::u16string &name,
                                                 const EFI_GUID &guid) const {
  auto it = Find(*state_, name, guid);
  return it == state_->variables.end() ? nullptr : &*it;
}

void HostPlatform::PutVariable(const StoredVariable &variable) {
  auto it = Find(*state_, variable.name, variable.guid);
  if (it != state_->variables.end())
    state_->variables.erase(it);
  state_->variables.push_back(variable);
}

void HostPlatform::RemoveVariable(const std::u16string &name, const EFI_GUID &guid) {
  auto it = Find(*state_, name, guid);
  if (it != state_->variables.end())
    state_->variables.erase(it);
}

} // namespace sim

// Boot services of the host platform: pool with accounting and injected failures, a handle
// database, and Stall on simulated time.
#include <cstdio>
#include <cstring>

#include "sim/host/host_state.h"

namespace sim {
namespace {

constexpr uint8_t kFreshPoolByte = 0xAF; // new pool memory is not zeroed by real UEFI either
constexpr uint8_t kFreedPoolByte = 0xDE;

std::string Describe(const char *what, const void *p) {
  char text[96];
  std::snprintf(text, sizeof text, "%s %p", what, p);
  return text;
}

EFI_STATUS Allocate(HostPlatform::State &s, UINTN size, void **buffer) {
  uint64_t call = ++s.allocationCalls;
  if (s.options.failAllAllocations || call == s.options.failAllocationNumber) {
    ++s.poolStats.failedAllocations;
    s.events.emplace_back(PoolCall{true, size, EFI_OUT_OF_RESOURCES});
    return EFI_OUT_OF_RESOURCES;
  }
  HostPlatform::State::PoolBlock block{size, false, std::make_unique<uint8_t[]>(size ? size : 1)};
  std::memset(block.memory.get(), kFreshPoolByte, size);
  void *p = block.memory.get();
  s.pool.emplace(p, std::move(block));
  PoolStats &st = s.poolStats;
  ++st.totalAllocations;
  ++st.outstandingCount;
  st.outstandingBytes += size;
  if (st.outstandingBytes > st.peakBytes)
    st.peakBytes = st.outstandingBytes;
  *buffer = p;
  s.events.emplace_back(PoolCall{true, size, EFI_SUCCESS});
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI AllocatePool(uint32_t poolType, UINTN size, void **buffer) {
  if (buffer == nullptr || poolType > 14)
    return EFI_INVALID_PARAMETER;
  return Allocate(ActiveState(), size, buffer);
}

EFI_STATUS EFIAPI FreePool(void *buffer) {
  HostPlatform::State &s = ActiveState();
  auto it = s.pool.find(buffer);
  if (it == s.pool.end() || it->second.freed) {
    s.poolErrors.push_back(Describe(it == s.pool.end() ? "FreePool of a pointer never allocated:"
                                                       : "FreePool of a pointer already freed:",
                                    buffer));
    s.events.emplace_back(PoolCall{false, 0, EFI_INVALID_PARAMETER});
    return EFI_INVALID_PARAMETER;
  }
  HostPlatform::State::PoolBlock &block = it->second;
  block.freed = true;
  std::memset(block.memory.get(), kFreedPoolByte, block.size);
  --s.poolStats.outstandingCount;
  s.poolStats.outstandingBytes -= block.size;
  ++s.poolStats.frees;
  s.events.emplace_back(PoolCall{false, block.size, EFI_SUCCESS});
  return EFI_SUCCESS;
}

HostPlatform::State::Handle *FindHandle(HostPlatform::State &s, const void *handle) {
  for (auto &h : s.handles)
    if (h.get() == handle)
      return h.get();
  return nullptr;
}

void *FindProtocol(const HostPlatform::State::Handle &h, const EFI_GUID &guid) {
  for (const auto &entry : h.protocols)
    if (GuidEqual(entry.first, guid))
      return entry.second;
  return nullptr;
}

bool Has(const HostPlatform::State::Handle &h, const EFI_GUID &guid) {
  for (const auto &entry : h.protocols)
    if (GuidEqual(entry.first, guid))
      return true;
  return false;
}

EFI_STATUS EFIAPI InstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *protocol,
                                           uint32_t interfaceType, void *iface) {
  if (handle == nullptr || protocol == nullptr || interfaceType != 0)
    return EFI_INVALID_PARAMETER;
  return AddProtocol(ActiveState(), handle, *protocol, iface);
}

EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE handle, const EFI_GUID *protocol, void **iface) {
  if (handle == nullptr || protocol == nullptr || iface == nullptr)
    return EFI_INVALID_PARAMETER;
  HostPlatform::State &s = ActiveState();
  *iface = nullptr;
  HostPlatform::State::Handle *h = FindHandle(s, handle);
  if (h == nullptr)
    return EFI_INVALID_PARAMETER;
  if (!Has(*h, *protocol))
    return EFI_UNSUPPORTED;
  if (s.options.handleProtocolFails && GuidEqual(*protocol, kSmbusHcProtocolGuid))
    return EFI_UNSUPPORTED;
  *iface = FindProtocol(*h, *protocol);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI LocateHandleBuffer(uint32_t searchType, const EFI_GUID *protocol,
                                     void * /*searchKey*/, UINTN *count, EFI_HANDLE **buffer) {
  constexpr uint32_t kAllHandles = 0;
  if (count == nullptr || buffer == nullptr)
    return EFI_INVALID_PARAMETER;
  if (searchType != kAllHandles && (searchType != ByProtocol || protocol == nullptr))
    return EFI_INVALID_PARAMETER;
  HostPlatform::State &s = ActiveState();
  std::vector<EFI_HANDLE> found;
  for (auto &h : s.handles)
    if (searchType == kAllHandles || Has(*h, *protocol))
      found.push_back(h.get());
  *count = 0;
  *buffer = nullptr;
  if (found.empty())
    return EFI_NOT_FOUND;
  void *list = nullptr;
  EFI_STATUS status = Allocate(s, found.size() * sizeof(EFI_HANDLE), &list);
  if (status != EFI_SUCCESS)
    return status;
  std::memcpy(list, found.data(), found.size() * sizeof(EFI_HANDLE));
  *count = found.size();
  *buffer = static_cast<EFI_HANDLE *>(list);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI LocateProtocol(const EFI_GUID *protocol, void * /*registration*/, void **iface) {
  if (protocol == nullptr || iface == nullptr)
    return EFI_INVALID_PARAMETER;
  *iface = nullptr;
  for (const auto &h : ActiveState().handles)
    if (Has(*h, *protocol)) {
      *iface = FindProtocol(*h, *protocol);
      return EFI_SUCCESS;
    }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI Stall(UINTN microseconds) {
  ActiveState().events.emplace_back(StallCall{microseconds});
  gSimNowMicros += microseconds;
  return EFI_SUCCESS;
}

// Nothing fires on the host: the call is recorded, and the watchdog's state kept for tests.
EFI_STATUS EFIAPI SetWatchdogTimer(UINTN timeout, uint64_t /*code*/, UINTN dataSize,
                                   const CHAR16 *data) {
  HostPlatform::State &s = ActiveState();
  s.events.emplace_back(WatchdogCall{timeout});
  if (dataSize != 0 && data == nullptr)
    return EFI_INVALID_PARAMETER;
  s.watchdogSeconds = timeout;
  return EFI_SUCCESS;
}

} // namespace

EFI_STATUS AddProtocol(HostPlatform::State &s, EFI_HANDLE *handle, const EFI_GUID &guid,
                       void *iface) {
  HostPlatform::State::Handle *h = nullptr;
  if (*handle == nullptr) {
    s.handles.push_back(std::make_unique<HostPlatform::State::Handle>());
    h = s.handles.back().get();
    *handle = h;
  } else {
    h = FindHandle(s, *handle);
    if (h == nullptr)
      return EFI_INVALID_PARAMETER;
  }
  if (Has(*h, guid))
    return EFI_INVALID_PARAMETER;
  h->protocols.emplace_back(guid, iface);
  return EFI_SUCCESS;
}

void InstallBootServices(HostPlatform::State &s) {
  EFI_BOOT_SERVICES &bs = s.bootServices;
  bs.Hdr.Signature = 0x56524553544F4F42ull; // "BOOTSERV"
  bs.Hdr.HeaderSize = sizeof(EFI_BOOT_SERVICES);
  bs.AllocatePool = AllocatePool;
  bs.FreePool = FreePool;
  bs.InstallProtocolInterface = InstallProtocolInterface;
  bs.HandleProtocol = HandleProtocol;
  bs.Stall = Stall;
  bs.SetWatchdogTimer = SetWatchdogTimer;
  bs.LocateHandleBuffer = LocateHandleBuffer;
  bs.LocateProtocol = LocateProtocol;
}

} // namespace sim

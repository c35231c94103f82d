// Basic UEFI types, status codes and calling convention, declared for our own use.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define EFIAPI __attribute__((ms_abi))

using EFI_STATUS = uint64_t;
using EFI_HANDLE = void *;
using UINTN = uint64_t;
using BOOLEAN = uint8_t;
using CHAR16 = char16_t;

static_assert(sizeof(void *) == 8, "x86-64 only");
static_assert(sizeof(char16_t) == 2);

struct EFI_GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(EFI_GUID) == 16);

inline bool GuidEqual(const EFI_GUID &a, const EFI_GUID &b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
    return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i])
      return false;
  return true;
}

constexpr EFI_STATUS kEfiErrorBit = 0x8000000000000000ull;
constexpr EFI_STATUS EfiError(uint64_t code) {
  return kEfiErrorBit | code;
}
constexpr bool EfiIsError(EFI_STATUS s) {
  return (s & kEfiErrorBit) != 0;
}

constexpr EFI_STATUS EFI_SUCCESS = 0;
constexpr EFI_STATUS EFI_INVALID_PARAMETER = EfiError(2);
constexpr EFI_STATUS EFI_UNSUPPORTED = EfiError(3);
constexpr EFI_STATUS EFI_BUFFER_TOO_SMALL = EfiError(5);
constexpr EFI_STATUS EFI_DEVICE_ERROR = EfiError(7);
constexpr EFI_STATUS EFI_WRITE_PROTECTED = EfiError(8);
constexpr EFI_STATUS EFI_OUT_OF_RESOURCES = EfiError(9);
constexpr EFI_STATUS EFI_VOLUME_CORRUPTED = EfiError(10);
constexpr EFI_STATUS EFI_NOT_FOUND = EfiError(14);
constexpr EFI_STATUS EFI_PROTOCOL_ERROR = EfiError(24);

struct EFI_TABLE_HEADER {
  uint64_t Signature;
  uint32_t Revision;
  uint32_t HeaderSize;
  uint32_t CRC32;
  uint32_t Reserved;
};
static_assert(sizeof(EFI_TABLE_HEADER) == 24);

// EFI_LOADED_IMAGE_PROTOCOL: the option string a boot manager hands an image.
#pragma once

#include "uefi/efi_types.h"

struct EFI_SYSTEM_TABLE;

struct EFI_LOADED_IMAGE_PROTOCOL {
  uint32_t Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  void *FilePath;
  void *Reserved;
  uint32_t LoadOptionsSize;
  void *LoadOptions;
  void *ImageBase;
  uint64_t ImageSize;
  uint32_t ImageCodeType;
  uint32_t ImageDataType;
  void *Unload;
};
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, LoadOptionsSize) == 48);
static_assert(offsetof(EFI_LOADED_IMAGE_PROTOCOL, LoadOptions) == 56);
static_assert(sizeof(EFI_LOADED_IMAGE_PROTOCOL) == 96);

inline constexpr EFI_GUID kLoadedImageProtocolGuid = {
    0x5B1B31A1, 0x9562, 0x11D2, {0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

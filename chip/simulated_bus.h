// The mark the simulated SMBus controllers (the host platform, SimChip.efi) carry on their
// handle, and nothing real does: a protocol of ours with no interface. A build's test patterns
// are flashed only through a controller with this mark.
#pragma once

#include "uefi/efi_types.h"

// 595bdafd-ccf5-416e-864c-edd36396a0b1
inline constexpr EFI_GUID kSimulatedBusMarkGuid = {
    0x595BDAFD, 0xCCF5, 0x416E, {0x86, 0x4C, 0xED, 0xD3, 0x63, 0x96, 0xA0, 0xB1}};

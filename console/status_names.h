#pragma once

#include "uefi/efi_types.h"

// The name printed for `status`, or nullptr when it has none (then it prints as %08X).
const CHAR16 *StatusName(EFI_STATUS status);

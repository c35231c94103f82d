// Reading the words an emulator image is started with: simctl's command lines and SimChip.efi's
// load options.
#pragma once

#include "uefi/efi_types.h"

bool Equal(const char *a, const char *b);
// Whole-string hex (an optional 0x prefix) or decimal numbers no greater than `max`.
bool ParseHex(const char *s, uint64_t max, uint64_t *out);
bool ParseDecimal(const char *s, uint64_t max, uint64_t *out);

// Reading the command line's operands.
#pragma once

#include <stdint.h>

// True when `operand` starts with '/' and then `letter`, in either case; the rest is ignored.
bool IsSwitch(const char *operand, char letter);

// Decimal value of an operand, read as the C library's atoi does on 32-bit integers, with its
// overflow rule (saturate when a step does not grow the value, else wrap).
int32_t OperandValue(const char *operand);

// True when the operand's first eleven characters are the build's access code.
bool MatchesAccessCode(const char *operand);

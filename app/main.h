// The tool's own entry: classifies the command line, runs one command, returns the exit status
// (formats/exit_status.h).
#pragma once

#include <stdint.h>

#include "uefi/arguments.h"

// `argumentsCut`: the conversion dropped an argument or cut one short. A cut operand still reads
// as a number, only another one (a CID of many zeros cut before its last digit reads 0), so such
// a run acts as an unrecognised switch of the same count does and never reaches the chip.
// `origin`: from a boot option's data a /f may end the boot itself (app/unattended.h); data
// that is no text is refused.
int32_t PanelupMain(int argc, char **argv, bool argumentsCut, ArgumentOrigin origin);

// The tool's own entry: classifies the command line, runs one command, returns the exit status
// (app/exit_status.h).
#pragma once

#include <stdint.h>

// `argumentsCut`: the conversion dropped an argument or cut one short. A cut operand still reads
// as a number, only another one (a CID of many zeros cut before its last digit reads 0), so such
// a run acts as an unrecognised switch of the same count does and never reaches the chip.
int32_t PanelupMain(int argc, char **argv, bool argumentsCut);

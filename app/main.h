// The tool's own entry: classifies the command line, runs one command, returns the exit status
// (app/exit_status.h).
#pragma once

#include <stdint.h>

int32_t PanelupMain(int argc, char **argv);

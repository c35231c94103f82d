// The tool's own entry: classifies the command line, runs one command, returns the exit status.
#pragma once

#include <stdint.h>

// Exit statuses handed to the shell.
constexpr int32_t kExitUsage = 10;
constexpr int32_t kExitSupportList = 21;
constexpr int32_t kExitVersionQuery = 22;
constexpr int32_t kExitBusNotFound = 24;
constexpr int32_t kExitFullSupportList = 30;
constexpr int32_t kExitBadAccessForm = 31;
constexpr int32_t kExitWrongChipOrSwitch = 255;

int32_t PanelupMain(int argc, char **argv);

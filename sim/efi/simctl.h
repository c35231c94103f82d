// simctl.efi's parts: its exit statuses, argument parsing and the commands, which act on the chip
// model through SimChip.efi's control protocol.
#pragma once

#include "sim/efi/sim_control.h"
#include "sim/efi/command_words.h"

constexpr EFI_STATUS kExitDone = 0;
constexpr EFI_STATUS kExitUsage = 1;
constexpr EFI_STATUS kExitNoSimChip = 2;
constexpr EFI_STATUS kExitVariable = 3;

constexpr uint32_t kLastCmosIndex = 0x7F; // bit 7 of the index port masks NMIs: keep it clear

// SimChip.efi's control protocol, found before any command that needs the chip.
extern SIM_CONTROL_PROTOCOL *gControl;

EFI_STATUS Usage();

EFI_STATUS SetChipId(const char *text);
EFI_STATUS SetVersion(const char *cid, const char *pid, const char *txx);
EFI_STATUS Reset();
EFI_STATUS SetKeyArea(const char *kind);
EFI_STATUS Cycle();
EFI_STATUS SetMark(const char *state);
EFI_STATUS Persist();
EFI_STATUS ShowBackup();
EFI_STATUS PlantBackup(const char *seedText);
EFI_STATUS Cmos(int argc, char **argv);
EFI_STATUS Fault(int argc, char **argv);
EFI_STATUS Report();

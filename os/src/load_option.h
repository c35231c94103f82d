// Reading a boot entry's value (an EFI_LOAD_OPTION) for what panelupctl needs of it: its label,
// whether it starts our staged image on a given partition, and the pair its /f names. Pure and
// bounded: every read is checked against the value's size (a fuzz target runs it).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The staged image as the firmware names it, and what schedule passes it.
inline constexpr char kStagedPath[] = "\\EFI\\Panelup\\Panelup.efi";

using PartitionSignature = std::array<uint8_t, 16>;

struct LoadOption {
  std::string label; // UCS-2 turned to UTF-8; characters past U+007F kept as '?'
  // The hard-disk node followed by the file node, when the path has them: the partition's
  // signature (GPT: its unique GUID; MBR: the disk's 32-bit signature) and number.
  std::optional<PartitionSignature> partition;
  uint32_t partitionNumber = 0;
  std::string file;                           // the file node's path, as text ("" without one)
  std::optional<std::array<uint8_t, 2>> pair; // CID and PID of "/f C P" in the optional data
};

// False for a value that is no load option (too short, a path past its end, a label without its
// NUL).
bool ParseLoadOption(std::span<const uint8_t> value, LoadOption *option);

// Whether the option starts \EFI\Panelup\Panelup.efi from the partition with `signature`.
bool StartsOurImage(const LoadOption &option, const PartitionSignature &signature);

// "/f C P" as UCS-2 text, without NUL, as schedule writes it into the entry's optional data.
std::string FlashArguments(uint8_t cid, uint8_t pid);

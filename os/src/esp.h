// The EFI system partition: found among the mounted FAT file systems (libmount; an automount
// point is visited first so it mounts), its partition read with libblkid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "load_option.h"

struct Partition {
  std::string dir;  // where it is mounted
  std::string disk; // /dev/vda
  uint32_t number = 0;
  uint64_t start = 0; // in 512-byte sectors, as the device path takes them
  uint64_t size = 0;
  bool gpt = true;
  PartitionSignature signature{}; // GPT: the partition's unique GUID; MBR: the disk signature
  std::string uuid;               // PARTUUID as text, for the marker
  bool espType = false;
};

// A PARTUUID as a device path's partition signature and the partition number it fixes: a GPT
// GUID (number 0: any), or an MBR disk's PTUUID-NN (the disk's signature, partition NN).
std::optional<std::pair<PartitionSignature, uint32_t>> SignatureOf(const std::string &uuid);

// The ESP named by `given`, else the one with PARTUUID `remembered`, else the first mounted one
// with the ESP's type. False with `error` when there is none; `warnings` for a --esp without
// the type.
bool LocateEsp(const std::string &given, const std::string &remembered, Partition *esp,
               std::string *error, std::vector<std::string> *warnings);

// The firmware's variables through libefivar, and boot entries (Boot####, BootNext) through
// libefiboot. Every failure comes back as text, never as "nothing there".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "efivar_c.h"

#include "load_option.h"

// efivarfs's folder (libefivar's EFIVARFS_PATH, else the kernel's), with its trailing slash.
std::string EfivarsFolder();

struct Variable {
  enum class State { Absent, Present, Unreadable } state = State::Absent;
  uint32_t attributes = 0;
  std::vector<uint8_t> data;
  std::string error; // for Unreadable
};

Variable ReadVariable(const efi_guid_t &guid, const std::string &name);
// Stores the value; false with `error` set when the firmware does not keep it.
bool WriteVariable(const efi_guid_t &guid, const std::string &name,
                   const std::vector<uint8_t> &data, uint32_t attributes, std::string *error);
// Deletes it (efivarfs's immutable flag lifted by libefivar); true also when it is not there.
bool DeleteVariable(const efi_guid_t &guid, const std::string &name, std::string *error);

efi_guid_t RecordGuid();
efi_guid_t GlobalGuid();

struct BootEntry {
  uint16_t number = 0;
  bool valid = false; // a load option at all
  LoadOption option;
};

struct BootEntries {
  std::vector<BootEntry> entries;
  std::optional<uint16_t> next;
};

// Every Boot#### and BootNext; false with `error` when any of them cannot be read.
bool ListBootEntries(BootEntries *list, std::string *error);

std::string EntryName(uint16_t number); // Boot0007

struct Partition; // esp.h
// Makes an entry, not in BootOrder, that starts the staged image on `esp` with `arguments` as its
// optional data; its number in `number`.
bool CreateBootEntry(const Partition &esp, const std::string &label, const std::string &arguments,
                     const BootEntries &existing, uint16_t *number, std::string *error);
bool DeleteBootEntry(uint16_t number, std::string *error);
bool SetBootNext(uint16_t number, std::string *error);
bool DeleteBootNext(std::string *error);

#include "efi.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "esp.h"
#include "formats/result_record.h"

namespace {

constexpr uint32_t kNvBsRt =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
static_assert(kNvBsRt == kRecordAttributes);
constexpr uint32_t kLoadOptionActive = 1;

std::string Why(const std::string &what) {
  return what + ": " + std::strerror(errno);
}

bool EntryNumber(const char *name, uint16_t *number) {
  if (std::strncmp(name, "Boot", 4) != 0 || std::strlen(name) != 8)
    return false;
  uint32_t n = 0;
  for (int i = 4; i < 8; ++i) {
    const char c = name[i];
    if (c >= '0' && c <= '9')
      n = n * 16 + static_cast<uint32_t>(c - '0');
    else if (c >= 'A' && c <= 'F')
      n = n * 16 + static_cast<uint32_t>(c - 'A' + 10);
    else
      return false;
  }
  *number = static_cast<uint16_t>(n);
  return true;
}

} // namespace

std::string EfivarsFolder() {
  const char *path = std::getenv("EFIVARFS_PATH");
  std::string folder = path != nullptr && *path != 0 ? path : "/sys/firmware/efi/efivars/";
  if (folder.back() != '/')
    folder += '/';
  return folder;
}

efi_guid_t RecordGuid() {
  efi_guid_t guid;
  efi_str_to_guid(kRecordGuidText, &guid);
  return guid;
}

efi_guid_t GlobalGuid() {
  return efi_guid_global;
}

Variable ReadVariable(const efi_guid_t &guid, const std::string &name) {
  Variable v;
  uint8_t *data = nullptr;
  size_t size = 0;
  uint32_t attributes = 0;
  errno = 0;
  if (efi_get_variable(guid, name.c_str(), &data, &size, &attributes) < 0) {
    if (errno == ENOENT) {
      v.state = Variable::State::Absent;
    } else {
      v.state = Variable::State::Unreadable;
      v.error = Why("cannot read " + name);
    }
    return v;
  }
  const std::unique_ptr<uint8_t, void (*)(void *)> owned(data, std::free); // libefivar's malloc
  v.state = Variable::State::Present;
  v.attributes = attributes;
  v.data.assign(data, data + size);
  return v;
}

bool WriteVariable(const efi_guid_t &guid, const std::string &name,
                   const std::vector<uint8_t> &data, uint32_t attributes, std::string *error) {
  std::vector<uint8_t> copy = data;
  if (efi_set_variable(guid, name.c_str(), copy.data(), copy.size(), attributes, 0644) < 0) {
    *error = Why("cannot store " + name);
    return false;
  }
  return true;
}

bool DeleteVariable(const efi_guid_t &guid, const std::string &name, std::string *error) {
  errno = 0;
  if (efi_del_variable(guid, name.c_str()) < 0 && errno != ENOENT) {
    *error = Why("cannot remove " + name);
    return false;
  }
  return true;
}

std::string EntryName(uint16_t number) {
  char name[9];
  std::snprintf(name, sizeof name, "Boot%04X", number);
  return name;
}

bool ListBootEntries(BootEntries *list, std::string *error) {
  *list = BootEntries{};
  efi_guid_t *guid = nullptr;
  char *name = nullptr;
  std::vector<uint16_t> numbers;
  int rc = 0;
  errno = 0;
  while ((rc = efi_get_next_variable_name(&guid, &name)) > 0) {
    uint16_t number = 0;
    if (efi_guid_cmp(guid, &efi_guid_global) == 0 && EntryNumber(name, &number))
      numbers.push_back(number);
  }
  if (rc < 0) {
    *error = Why("cannot list the firmware's variables");
    return false;
  }
  for (uint16_t number : numbers) {
    const Variable v = ReadVariable(efi_guid_global, EntryName(number));
    if (v.state == Variable::State::Absent)
      continue; // deleted meanwhile
    if (v.state == Variable::State::Unreadable) {
      *error = v.error;
      return false;
    }
    BootEntry entry;
    entry.number = number;
    entry.valid = ParseLoadOption(v.data, &entry.option);
    list->entries.push_back(entry);
  }
  const Variable next = ReadVariable(efi_guid_global, "BootNext");
  if (next.state == Variable::State::Unreadable) {
    *error = next.error;
    return false;
  }
  if (next.state == Variable::State::Present) {
    if (next.data.size() != 2) {
      *error = "BootNext is " + std::to_string(next.data.size()) + " bytes, not 2";
      return false;
    }
    list->next = static_cast<uint16_t>(next.data[0] | next.data[1] << 8);
  }
  return true;
}

bool CreateBootEntry(const Partition &esp, const std::string &label, const std::string &arguments,
                     const BootEntries &existing, uint16_t *number, std::string *error) {
  uint8_t path[512];
  PartitionSignature signature = esp.signature;
  ssize_t used = efidp_make_hd(path, sizeof path, esp.number, esp.start, esp.size, signature.data(),
                               esp.gpt ? EFIDP_HD_FORMAT_GPT : EFIDP_HD_FORMAT_PCAT,
                               esp.gpt ? EFIDP_HD_SIGNATURE_GUID : EFIDP_HD_SIGNATURE_MBR);
  std::string file = kStagedPath;
  const auto room = [&] { return static_cast<ssize_t>(sizeof path) - used; };
  ssize_t n = used < 0 ? -1 : efidp_make_file(path + used, room(), file.data());
  used = n < 0 ? -1 : used + n;
  n = used < 0 ? -1 : efidp_make_end_entire(path + used, room());
  if (n < 0) {
    *error = Why("cannot make the boot entry's device path");
    return false;
  }
  used += n;
  std::vector<uint8_t> option(4096);
  std::string description = label;
  std::string data = arguments;
  const ssize_t size = efi_loadopt_create(option.data(), static_cast<ssize_t>(option.size()),
                                          kLoadOptionActive, reinterpret_cast<efidp>(path), used,
                                          reinterpret_cast<unsigned char *>(description.data()),
                                          reinterpret_cast<uint8_t *>(data.data()), data.size());
  if (size < 0) {
    *error = Why("cannot make the boot entry");
    return false;
  }
  option.resize(static_cast<size_t>(size));
  uint32_t free = 0;
  for (; free <= 0xFFFF; ++free) {
    bool taken = false;
    for (const BootEntry &e : existing.entries)
      taken = taken || e.number == free;
    if (!taken)
      break;
  }
  if (free > 0xFFFF) {
    *error = "no free boot entry number";
    return false;
  }
  *number = static_cast<uint16_t>(free);
  return WriteVariable(efi_guid_global, EntryName(*number), option, kNvBsRt, error);
}

bool DeleteBootEntry(uint16_t number, std::string *error) {
  return DeleteVariable(efi_guid_global, EntryName(number), error);
}

bool SetBootNext(uint16_t number, std::string *error) {
  const std::vector<uint8_t> value{static_cast<uint8_t>(number & 0xFF),
                                   static_cast<uint8_t>(number >> 8)};
  return WriteVariable(efi_guid_global, "BootNext", value, kNvBsRt, error);
}

bool DeleteBootNext(std::string *error) {
  return DeleteVariable(efi_guid_global, "BootNext", error);
}

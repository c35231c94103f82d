// Build step: the key-area backup of a chip that never had a key area (286 bytes of 0xFF), as a
// file the UEFI Shell's `dmpstore -l FILE` loads. Storing it is the operator's deliberate word
// that the chip's key area is blank on purpose; without it the tool refuses a blank key area.
// Usage: blank_key_backup OUTPUT
//
// The file is one record of the shell's dmpstore format: name size and data size (UINT32, bytes,
// the name's with its NUL), the name (UCS-2), the vendor GUID, the attributes (UINT32), the data,
// and the CRC-32 of everything before it.
#include <cstdio>
#include <vector>

#include "catalogue/crc32.h"
#include "update/key_custody.h"

namespace {

void Put32(std::vector<uint8_t> &out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<uint8_t>(value >> shift));
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: blank_key_backup OUTPUT\n");
    return 2;
  }
  std::vector<uint8_t> record;
  Put32(record, sizeof(kKeyBackupName));
  Put32(record, kHdcpKeySize);
  for (CHAR16 c : kKeyBackupName) {
    record.push_back(static_cast<uint8_t>(c));
    record.push_back(static_cast<uint8_t>(c >> 8));
  }
  const EFI_GUID &g = kKeyBackupGuid;
  Put32(record, g.Data1);
  record.insert(record.end(), {static_cast<uint8_t>(g.Data2), static_cast<uint8_t>(g.Data2 >> 8),
                               static_cast<uint8_t>(g.Data3), static_cast<uint8_t>(g.Data3 >> 8)});
  record.insert(record.end(), g.Data4, g.Data4 + 8);
  Put32(record, kKeyBackupAttributes);
  record.insert(record.end(), kHdcpKeySize, 0xFF);
  Put32(record, Crc32(record.data(), record.size()));

  std::FILE *out = std::fopen(argv[1], "wb");
  if (out == nullptr || std::fwrite(record.data(), 1, record.size(), out) != record.size() ||
      std::fclose(out) != 0) {
    std::fprintf(stderr, "blank_key_backup: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

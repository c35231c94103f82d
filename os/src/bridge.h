// The bridge as Linux reaches it: the platform's SMBus through i2c-dev, read with the register
// sequence Panelup.efi's /s uses, and the CMOS bytes the tool publishes, through /dev/nvram.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One byte-data transfer on the bus, as issued.
struct BusTransfer {
  bool write;
  uint8_t reg;
  uint8_t value; // written, or read (0 when the read failed)
  bool ok;
};

struct BridgeReading {
  bool found = false; // chip id 0x1605 answered at 0x2B
  bool hasChipId = false;
  uint16_t chipId = 0;
  bool hasVersion = false;
  uint8_t cid = 0;
  uint8_t pid = 0;
  uint8_t txx = 0;
  bool accessKept = false; // the release was refused: the chip's firmware stays locked out
  std::string why; // the first transfer refused, or the chip id; a release refused after them
  std::vector<BusTransfer> transfers;
};

// The adapter `wanted` names: its number, or its name or the start of it
// (/sys/bus/i2c/devices/i2c-N/name); empty: the chipset's SMBus controller, the i801 family's
// "SMBus I801 adapter at ...". Numbers can change between boots, names do not.
bool FindAdapter(const std::string &wanted, int *number, std::string *name, std::string *error);

// The chip id and the firmware version from the device at 0x2B on adapter `number`: access
// taken, bank 0xA0 for the id, bank 0xD2 for the version, access given back. Nothing else is ever
// written; the first failed transfer ends the reading, and access taken is given back on every
// path (signals wait until it is). False with `error` when the bus cannot be used at all.
bool ReadBridge(int number, BridgeReading *reading, std::string *error);

// CMOS 0x70-0x72 (the version the tool last published) and 0x79 (its last status code).
struct CmosReading {
  bool available = false;
  std::string why; // without the bytes
  uint8_t version[3] = {0, 0, 0};
  uint8_t status = 0;
};
CmosReading ReadCmos();

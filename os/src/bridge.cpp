#include "bridge.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kBridgeAddress = 0x2B;
constexpr uint16_t kBridgeChipId = 0x1605;
constexpr char kChipsetAdapter[] = "SMBus I801 adapter";

// The bus a reading runs on: every transfer is recorded, and the first that fails ends it.
struct Bus {
  int fd = -1;
  BridgeReading *reading = nullptr;
  bool failed = false;

  bool Transfer(bool write, uint8_t reg, uint8_t *value) {
    if (failed)
      return false;
    // The kernel's transfer buffer is a union; a byte-data transfer uses its first byte.
    i2c_smbus_data data{};
    uint8_t *byte = reinterpret_cast<uint8_t *>(&data);
    *byte = write ? *value : 0;
    i2c_smbus_ioctl_data args{};
    args.read_write = write ? I2C_SMBUS_WRITE : I2C_SMBUS_READ;
    args.command = reg;
    args.size = I2C_SMBUS_BYTE_DATA;
    args.data = &data;
    const bool ok = ioctl(fd, I2C_SMBUS, &args) == 0;
    if (ok && !write)
      *value = *byte;
    reading->transfers.push_back({write, reg, ok ? *value : uint8_t{0}, ok});
    if (!ok) {
      failed = true;
      reading->why = std::string("the ") +
                     (write ? "write of register 0x" : "read of register 0x") + Hex(reg) +
                     " was refused (" + std::strerror(errno) + ")";
    }
    return ok;
  }
  bool Write(uint8_t reg, uint8_t value) { return Transfer(true, reg, &value); }
  bool Read(uint8_t reg, uint8_t *value) { return Transfer(false, reg, value); }

  static std::string Hex(uint8_t v) {
    const char digits[] = "0123456789ABCDEF";
    return {digits[v >> 4], digits[v & 15]};
  }
};

// Access back to the chip's own firmware: bank 0x80, 0xEE := 0x00. Tried even after a failure,
// once access may have been taken.
void Release(Bus &bus) {
  bus.failed = false;
  if (bus.Write(0xFF, 0x80))
    bus.Write(0xEE, 0x00);
}

void Sequence(Bus &bus, BridgeReading &r) {
  // Access for the host: bank 0x80, 0xEE := 0x01. Nobody at 0x2B refuses the first write, and
  // then nothing more is sent.
  if (!bus.Write(0xFF, 0x80))
    return;
  const bool taken = bus.Write(0xEE, 0x01);
  uint8_t high = 0;
  uint8_t low = 0;
  if (taken && bus.Write(0xFF, 0xA0) && bus.Read(0x00, &high) && bus.Read(0x01, &low)) {
    r.hasChipId = true;
    r.chipId = static_cast<uint16_t>(high << 8 | low);
    if (r.chipId != kBridgeChipId) {
      char text[64];
      std::snprintf(text, sizeof text, "chip id 0x%04X at 0x2B, not 0x1605", r.chipId);
      r.why = text;
    } else if (bus.Write(0xFF, 0xD2) && bus.Read(0x0C, &r.cid) && bus.Read(0x0D, &r.pid) &&
               bus.Read(0x0E, &r.txx)) {
      r.hasVersion = true;
      r.found = true;
    }
  }
  const std::string stopped = r.why;
  r.why.clear();
  Release(bus);
  if (!r.why.empty()) {
    r.accessKept = true;
    r.why = (stopped.empty() ? "" : stopped + "; ") + "access not given back: " + r.why;
  } else {
    r.why = stopped;
  }
}

// sysfs files give no size before they are read: one line, read as a stream.
std::string NameOf(int number) {
  std::ifstream file("/sys/bus/i2c/devices/i2c-" + std::to_string(number) + "/name");
  std::string name;
  std::getline(file, name);
  while (!name.empty() && name.back() == ' ')
    name.pop_back();
  return name;
}

} // namespace

bool FindAdapter(const std::string &wanted, int *number, std::string *name, std::string *error) {
  std::vector<int> numbers;
  std::error_code ec;
  for (const auto &e : std::filesystem::directory_iterator("/sys/bus/i2c/devices", ec)) {
    const std::string base = e.path().filename().string();
    if (base.size() > 4 && base.compare(0, 4, "i2c-") == 0 &&
        base.find_first_not_of("0123456789", 4) == std::string::npos && base.size() < 12)
      numbers.push_back(std::stoi(base.substr(4)));
  }
  std::sort(numbers.begin(), numbers.end());
  const bool byNumber = !wanted.empty() && wanted.size() < 10 &&
                        wanted.find_first_not_of("0123456789") == std::string::npos;
  const std::string prefix = wanted.empty() ? kChipsetAdapter : wanted;
  for (int n : numbers) {
    const std::string found = NameOf(n);
    if (byNumber ? n == std::stoi(wanted) : found.compare(0, prefix.size(), prefix) == 0) {
      *number = n;
      *name = found;
      return true;
    }
  }
  *error = wanted.empty() ? std::string("no SMBus adapter of the chipset (\"") + kChipsetAdapter +
                                " ...\"): load i2c-i801 and i2c-dev, or name one with --adapter"
                          : "no i2c adapter " + wanted + " (/sys/bus/i2c/devices)";
  if (numbers.empty() && !wanted.empty())
    *error += "; no adapter at all: load i2c-dev and the bus driver";
  return false;
}

bool ReadBridge(int number, BridgeReading *reading, std::string *error) {
  const std::string device = "/dev/i2c-" + std::to_string(number);
  const int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + device + ": " + std::strerror(errno) +
             (errno == ENOENT ? " (load i2c-dev)" : "");
    return false;
  }
  // Only an address no kernel driver holds: one that does owns the chip.
  if (ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(kBridgeAddress)) != 0) {
    *error = device + ": address 0x2B is not free (" + std::strerror(errno) + ")";
    close(fd);
    return false;
  }
  unsigned long functions = 0;
  if (ioctl(fd, I2C_FUNCS, &functions) != 0 || (functions & I2C_FUNC_SMBUS_BYTE_DATA) == 0) {
    *error = device + " has no SMBus byte-data transfers";
    close(fd);
    return false;
  }
  // A signal between taking access and giving it back would leave the chip's firmware locked
  // out until the next power-off: the usual ones wait until the reading is over.
  sigset_t block;
  sigset_t before;
  sigemptyset(&block);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGTSTP})
    sigaddset(&block, s);
  sigprocmask(SIG_BLOCK, &block, &before);
  Bus bus{fd, reading};
  Sequence(bus, *reading);
  close(fd);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  return true;
}

CmosReading ReadCmos() {
  CmosReading c;
  // /dev/nvram holds CMOS from byte 14 on (the clock's registers come before).
  constexpr off_t kFirst = 14;
  const int fd = open("/dev/nvram", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    c.why = std::string("/dev/nvram: ") + std::strerror(errno) +
            (errno == ENOENT ? " (load nvram)" : "");
    return c;
  }
  uint8_t status = 0;
  const bool ok =
      pread(fd, c.version, 3, 0x70 - kFirst) == 3 && pread(fd, &status, 1, 0x79 - kFirst) == 1;
  const int error = errno;
  close(fd);
  if (!ok) {
    // The PC driver refuses every read while the CMOS checksum (0x2E, 0x2F) is wrong.
    c.why = std::string("/dev/nvram cannot be read: ") + std::strerror(error);
    return c;
  }
  c.status = status;
  c.available = true;
  return c;
}

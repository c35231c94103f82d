#include "tests/bench/floor.h"

namespace {

constexpr uint64_t kPageBytes = 16;
constexpr uint64_t kKeyAreaBytes = 286;
constexpr uint64_t kKeyAreaPages = 18;

// Bank 0x80, then the access register.
constexpr uint64_t kTakeAccess = 2;
constexpr uint64_t kSelectBank = 1;
// Take access, reset the controller from bank 0x90 (bank, two writes), back to bank 0x80, latch
// set, idle.
constexpr uint64_t kPreamble = kTakeAccess + kSelectBank + 2 + kSelectBank + 2;
// Latch cleared, idle.
constexpr uint64_t kPostamble = 2;
constexpr uint64_t kAddress = 3;
// Mode, FIFO cleared, idle, address, execute, idle, streaming on; then one read per byte.
constexpr uint64_t kReadPage = 3 + kAddress + 3;
// Mode, FIFO cleared, idle, streaming on, the data, address, mode, execute, idle.
constexpr uint64_t kKeyPage = 4 + kPageBytes + kAddress + 3;
// A firmware page sets the write-enable latch (and idles) before each page.
constexpr uint64_t kFirmwarePage = 2 + kKeyPage;
// Take access, idle, the configuration mode, no streaming, the configuration byte, execute, idle.
constexpr uint64_t kConfigure = kTakeAccess + 6;
// Take access, idle, latch set, idle, address 0, erase, idle.
constexpr uint64_t kErase = kTakeAccess + 3 + kAddress + 2;

// The per-page figures the register protocol is known by.
static_assert(kPreamble == 8 && kReadPage == 9 && kKeyPage == 26 && kFirmwarePage == 28);

BusCount ReadArea(uint64_t pages, uint64_t bytes) {
  return {kPreamble + pages * kReadPage + kPostamble, bytes};
}

} // namespace

uint32_t PagesFor(uint32_t length) {
  return static_cast<uint32_t>((length + kPageBytes - 1) / kPageBytes);
}

std::vector<FloorStep> FloorSteps(uint32_t imageLength) {
  const uint64_t pages = PagesFor(imageLength);
  return {
      {"version read", {kTakeAccess + kSelectBank, 3}},
      {"access released", {kTakeAccess, 0}},
      {"chip id read", {kTakeAccess + kSelectBank, 2}},
      {"ConfigPara", {kConfigure, 0}},
      // Read twice: the erase waits for two passes that agree.
      {"SaveHdcpKeyFromFlash", ReadArea(kKeyAreaPages, kKeyAreaBytes)},
      {"SaveHdcpKeyFromFlash, check pass", ReadArea(kKeyAreaPages, kKeyAreaBytes)},
      {"BlockErase", {kErase, 0}},
      {"WriteFirmwareToFlash", {kPreamble + pages * kFirmwarePage + kPostamble, 0}},
      {"WriteHdcpKeyToFlash", {kPreamble + kKeyAreaPages * kKeyPage + kPostamble, 0}},
      {"ReadFirmwareFromFlash", ReadArea(pages, imageLength)},
      {"key-area read-back", FloorKeyReadBack()},
  };
}

BusCount FloorTotal(uint32_t imageLength) {
  BusCount total;
  for (const FloorStep &step : FloorSteps(imageLength)) {
    total.writes += step.count.writes;
    total.reads += step.count.reads;
  }
  return total;
}

BusCount FloorKeyReadBack() {
  return ReadArea(kKeyAreaPages, kKeyAreaBytes);
}

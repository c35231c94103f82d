#include "tests/bench/margin.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "chip/flash_layout.h"
#include "sim/host/host_platform.h"
#include "update/key_custody.h"

namespace {

constexpr uint8_t kWriteBackStarts = 0xF5; // CMOS 0x79 just before the key write-back
constexpr uint8_t kWriteBackEnded = 0xF6;
// Within a key page: the preamble's 8 writes open the write-back, then 4 mode writes per page.
constexpr uint32_t kFirstDataWrite = 8 + 4;
constexpr uint32_t kKeyPageWrites = 26;

// The chip as it stood when the key write-back began, and the write-back's transactions.
struct WriteBack {
  std::unique_ptr<sim::BridgeChip> start = std::make_unique<sim::BridgeChip>();
  std::vector<sim::Transaction> writes;
};

void Apply(sim::BridgeChip &chip, const sim::Transaction &t) {
  // The chip acts at the transfer's stop, as on the bus.
  const uint32_t bits = t.op == sim::Op::Read ? sim::kReadByteBits : sim::kWriteByteBits;
  sim::gSimNowMicros = t.timeMicros + sim::BusBitsToMicros(bits, sim::kDefaultBusHz);
  if (t.failed)
    return;
  if (t.op == sim::Op::Read)
    sim::ChipRead(chip, t.reg);
  else
    sim::ChipWrite(chip, t.reg, t.value);
}

// A clean /f 2 6, replayed onto a fresh chip up to the write-back.
WriteBack LearnWriteBack() {
  sim::HostPlatform p;
  p.Run({"Panelup.efi", "/f", "2", "6"});
  WriteBack w;
  sim::ChipPowerOn(*w.start, sim::ChipConfig{});
  uint8_t cmosIndex = 0;
  uint8_t status = 0;
  for (const sim::Event &e : p.Events()) {
    if (const auto *a = std::get_if<sim::PortAccess>(&e); a != nullptr && a->write) {
      if (a->port == sim::kCmosIndexPort)
        cmosIndex = a->value;
      else if (a->port == sim::kCmosDataPort && cmosIndex == sim::kCmosStatusIndex)
        status = a->value;
    } else if (const auto *t = std::get_if<sim::Transaction>(&e)) {
      if (status == kWriteBackStarts)
        w.writes.push_back(*t);
      else if (status != kWriteBackEnded)
        Apply(*w.start, *t);
    }
  }
  return w;
}

// Programmed bytes of the key area that differ from the chip's own key after the write-back with
// the transactions at `failed` (indices into the write-back) failing.
uint32_t ForeignAfter(const WriteBack &w, std::vector<uint32_t> failed) {
  auto chip = std::make_unique<sim::BridgeChip>(*w.start);
  std::sort(failed.begin(), failed.end());
  for (uint32_t i = 0; i < w.writes.size(); ++i) {
    sim::Transaction t = w.writes[i];
    t.failed = std::binary_search(failed.begin(), failed.end(), i);
    Apply(*chip, t);
  }
  uint8_t found[kHdcpKeySize];
  uint8_t key[kHdcpKeySize];
  std::copy_n(chip->flash + kHdcpKeyAddress, kHdcpKeySize, found);
  std::copy_n(chip->originalKeyArea, kHdcpKeySize, key);
  return ForeignBytes(found, key);
}

} // namespace

std::vector<MarginRow> MeasureRestoreMargin(uint32_t maxFailed, uint32_t draws, uint64_t seed) {
  const WriteBack w = LearnWriteBack();
  const auto count = static_cast<uint32_t>(w.writes.size());
  std::mt19937_64 rng(seed);
  std::vector<uint32_t> all(count);
  for (uint32_t i = 0; i < count; ++i)
    all[i] = i;
  std::vector<MarginRow> rows;
  for (uint32_t k = 1; k <= maxFailed; ++k) {
    MarginRow row;
    row.failedWrites = k;
    uint64_t sum = 0;
    for (uint32_t d = 0; d < draws; ++d) {
      std::shuffle(all.begin(), all.end(), rng);
      const uint32_t foreign = ForeignAfter(w, {all.begin(), all.begin() + k});
      sum += foreign;
      row.maxForeign = std::max(row.maxForeign, foreign);
    }
    row.meanForeign = static_cast<double>(sum) / draws;
    std::vector<uint32_t> pages;
    for (uint32_t p = 0; p < k && p < kHdcpKeyPages; ++p)
      pages.push_back(kFirstDataWrite + p * kKeyPageWrites);
    row.pagesForeign = ForeignAfter(w, pages);
    rows.push_back(row);
  }
  return rows;
}

double Log10ChanceWithin(uint32_t within) {
  // A random byte is programmed (not 0xFF) and differs from the key's (255/256 either way).
  const double q = std::pow(255.0 / 256.0, 2);
  const double n = kHdcpKeySize;
  // Terms of the binomial sum in logs, added from the largest, so none underflows.
  std::vector<double> terms;
  for (uint32_t x = 0; x <= within; ++x)
    terms.push_back(std::lgamma(n + 1) - std::lgamma(x + 1.0) - std::lgamma(n - x + 1) +
                    x * std::log(q) + (n - x) * std::log1p(-q));
  const double top = *std::max_element(terms.begin(), terms.end());
  double sum = 0;
  for (double t : terms)
    sum += std::exp(t - top);
  return (top + std::log(sum)) / std::log(10.0);
}

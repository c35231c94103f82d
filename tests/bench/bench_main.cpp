// The bench's simulated half (ctest bench_counts, and the start of `make bench`'s report): every
// catalogue entry's /f on the simulated platform, its SMBus transactions held against the register
// protocol's floor, its modelled bus time at 100 and 400 kHz and its mandated waits; then the pool
// use of /f 2 6, which opens the footprint section scripts/bench.sh completes from Panelup.efi.
// Markdown on stdout. Exit status 1 when any run differs from the floor.
#include <cstdio>
#include <string>

#include "catalogue/catalogue.h"
#include "chip/flash_layout.h"
#include "tests/bench/margin.h"
#include "tests/bench/measure.h"
#include "update/key_custody.h"

namespace {

constexpr uint32_t kSlowBusHz = 100000;
constexpr uint32_t kFastBusHz = 400000;

std::string Seconds(uint64_t micros) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.3f s", static_cast<double>(micros) / 1e6);
  return text;
}

// Bus time is linear in bit times, so one run gives both clocks. A row without waits (the
// key-area read-back, part of every run) leaves the waits and the totals empty.
void PrintRow(const std::string &what, uint32_t bytes, const BusCount &run, const BusCount &floor,
              const std::string &agree, uint64_t busBits, const uint64_t *waits) {
  const uint64_t slow = sim::BusBitsToMicros(busBits, kSlowBusHz);
  const uint64_t fast = sim::BusBitsToMicros(busBits, kFastBusHz);
  std::printf("| %s | %u | %llu / %llu | %llu / %llu | %s | %s | %s | %s | %s | %s |\n",
              what.c_str(), bytes, (unsigned long long)run.writes, (unsigned long long)floor.writes,
              (unsigned long long)run.reads, (unsigned long long)floor.reads, agree.c_str(),
              Seconds(slow).c_str(), Seconds(fast).c_str(), waits ? Seconds(*waits).c_str() : "",
              waits ? Seconds(slow + *waits).c_str() : "",
              waits ? Seconds(fast + *waits).c_str() : "");
}

std::string Verdict(const FlashRun &r, bool agree) {
  if (agree)
    return "yes";
  return "**NO** (exit " + std::to_string(r.status) + (r.flashed ? ")" : ", not flashed)");
}

// What failed writes in one key write-back do to the key area, against the restore rule.
void PrintRestoreMargin() {
  constexpr uint32_t kMaxFailed = 13;
  constexpr uint32_t kDraws = 500;
  constexpr uint64_t kSeed = 7911; // the same placements in every report
  std::printf("\n### Key-area restore margin\n\nProgrammed bytes of the key area that differ "
              "from the chip's key after one key write-back of `/f 2 6` with k failed writes: %u "
              "placements drawn among its writes (mean, worst), and the failures on the first "
              "data byte of k successive pages. A retry restores from the backup when at most "
              "%u such bytes differ.\n\n| k | Mean | Worst drawn | First data byte of k pages "
              "|\n|--:|--:|--:|--:|\n",
              kDraws, kMaxForeignBytes);
  for (const MarginRow &r : MeasureRestoreMargin(kMaxFailed, kDraws, kSeed))
    std::printf("| %u | %.1f | %u | %u |\n", r.failedWrites, r.meanForeign, r.maxForeign,
                r.pagesForeign);
  std::printf("\nAnother chip's random key area is programmed and differs from this one's in a "
              "byte with (255/256)^2 = 0.9922; the chance that it does in at most %u of 286 "
              "bytes (binomial): 10^%.1f.\n",
              kMaxForeignBytes, Log10ChanceWithin(kMaxForeignBytes));
}

} // namespace

int main() {
  std::printf("### `/f` on the simulated platform, per catalogue entry\n\n"
              "| Command | Image bytes | Writes (run / floor) | Reads (run / floor) | Agree "
              "| Bus at 100 kHz | Bus at 400 kHz | Mandated waits | Total at 100 kHz "
              "| Total at 400 kHz |\n|---|--:|--:|--:|---|--:|--:|--:|--:|--:|\n");
  const BusCount keyFloor = FloorKeyReadBack();
  bool allAgree = true;
  bool keyAgree = true;
  BusCount keyRun;
  int reference = -1; // /f 2 6, whose pool use the footprint gives
  FlashRun referenceRun;
  for (int entry = 0; entry < kCatalogueEntryCount; ++entry) {
    const CatalogueEntry &e = FirmwareCatalogue[entry];
    const FlashRun r = MeasureFlash(entry);
    const bool agree =
        r.status == 0 && r.flashed && r.bus == FloorTotal(e.length) && r.keyReadBack == keyFloor;
    allAgree = allAgree && agree;
    keyAgree = keyAgree && r.keyReadBack == keyFloor;
    keyRun = r.keyReadBack;
    if (e.cid == 2 && e.pid == 6) {
      reference = entry;
      referenceRun = r;
    }
    PrintRow("`/f " + std::to_string(e.cid) + " " + std::to_string(e.pid) + "`", e.length, r.bus,
             FloorTotal(e.length), Verdict(r, agree), r.busBits, &r.waitMicros);
  }
  PrintRow("key-area read-back, part of every row", kHdcpKeySize, keyRun, keyFloor,
           keyAgree ? "yes" : "**NO**",
           keyRun.writes * sim::kWriteByteBits + keyRun.reads * sim::kReadByteBits, nullptr);

  std::printf(
      "\nFloor: counted from the register protocol alone, one transaction per register access: "
      "version read 3 writes + 3 reads, access released 2, chip id read 3 + 2, ConfigPara 8, the "
      "key area read twice before the erase (each %llu writes and %llu reads), BlockErase 10, "
      "FlashPreamble 8 and FlashPostamble 2 around each flash routine, 28 writes per firmware "
      "page, 26 per key page, 9 writes per read page plus one read per byte; the run's last "
      "%llu + %llu are the key area read back. Bus time is the modelled SMBus time (a byte write "
      "is %u bit times, a byte read %u). The mandated waits are the tool's Stall calls (1 s before "
      "the EC start command, 0.5 s before the chip id read, 10 ms after it, 100 ms after "
      "ConfigPara, 1 s after the erase).\n",
      (unsigned long long)keyFloor.writes, (unsigned long long)keyFloor.reads,
      (unsigned long long)keyFloor.writes, (unsigned long long)keyFloor.reads, sim::kWriteByteBits,
      sim::kReadByteBits);

  PrintRestoreMargin();

  if (reference >= 0) {
    const CatalogueEntry &e = FirmwareCatalogue[reference];
    std::printf("\n### Footprint of Panelup.efi\n\nPool memory taken at most at one time during "
                "`/f %d %d` (the host platform's accounting): %llu bytes; %llu allocations in the "
                "run, %s.\n",
                e.cid, e.pid, (unsigned long long)referenceRun.pool.peakBytes,
                (unsigned long long)referenceRun.pool.totalAllocations,
                referenceRun.poolBalanced ? "all returned" : "**not all returned**");
  }
  if (!allAgree)
    std::fprintf(stderr, "bench: transaction counts differ from the floor (see Agree)\n");
  return allAgree ? 0 : 1;
}

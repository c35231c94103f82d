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
#include "chip/registers.h"
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

// The longest a /f can take: the longest image on a clean bus with one attempt, and on the worst
// bus with every attempt a schedule allows. True when both ran as built.
bool PrintLongestRuns() {
  constexpr uint32_t kTimeoutMicros = 35000; // a controller waiting out a transfer nobody answers
  int longest = 0;
  for (int entry = 1; entry < kCatalogueEntryCount; ++entry)
    if (FirmwareCatalogue[entry].length > FirmwareCatalogue[longest].length)
      longest = entry;
  const CatalogueEntry &e = FirmwareCatalogue[longest];
  std::printf("\n### The longest `/f`\n\n`/f %d %d`, the longest image (%u bytes), at 100 kHz, "
              "each failed transfer waiting out a %u ms timeout, with the mandated waits; the "
              "simulated platform's time for the whole run.\n\n| Bus | Attempts allowed / made "
              "| Transfers | Failed | Exit | Longest run |\n|---|--:|--:|--:|--:|--:|\n",
              e.cid, e.pid, e.length, kTimeoutMicros / 1000);
  struct Row {
    LongCase which;
    const char *bus;
    const char *allowed;
    int64_t status;
  };
  const Row rows[] = {
      {LongCase::Clean, "clean, from the shell", "1", 0},
      {LongCase::Worst,
       "worst: one failure in each of the first eight key-area reads, then the rest of the "
       "failure budget spread over the nine attempts, the last at the run's last transfer",
       "9", 248},
      {LongCase::Degraded, "every other transfer failing from the erase on", "9", 248},
  };
  bool asBuilt = true;
  for (const Row &row : rows) {
    const LongRun r = MeasureLongRun(longest, row.which, kTimeoutMicros);
    const bool spent =
        row.which == LongCase::Clean ? r.failures == 0 : r.failures == kFailureBudget;
    asBuilt = asBuilt && r.status == row.status && spent &&
              (row.which != LongCase::Worst || r.attempts == 9);
    std::printf("| %s | %s / %d | %llu | %llu | %lld | %s (%.1f min) |\n", row.bus, row.allowed,
                r.attempts, (unsigned long long)r.transactions, (unsigned long long)r.failures,
                (long long)r.status, Seconds(r.micros).c_str(),
                static_cast<double>(r.micros) / 60e6);
  }
  std::printf("\nA run gives the bus up after 64 failed transfers in a row or %u in all, so no "
              "bus makes a run longer than the worst row.\n",
              kFailureBudget);
  return asBuilt;
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
  if (!PrintLongestRuns()) {
    std::fprintf(stderr, "bench: a longest run did not go as built (see The longest /f)\n");
    allAgree = false;
  }

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

#include "tests/bench/report.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "catalogue/catalogue.h"
#include "chip/flash_layout.h"
#include "console/format.h"
#include "tests/bench/pe_image.h"
#include "uefi/arguments.h"

namespace {

constexpr uint32_t kSlowBusHz = 100000;
constexpr size_t kBuffersListed = 8;

std::string Seconds(uint64_t micros) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.3f s", static_cast<double>(micros) / 1e6);
  return text;
}

bool KeyCheckAgrees(const RunMeasure &m) {
  return m.keyCheck == FloorKeyReadBack();
}

bool RunAgrees(const RunMeasure &m) {
  const CatalogueEntry &e = FirmwareCatalogue[m.entry];
  return m.status == 0 && m.flashed && m.bus == FloorTotal(e.length) && KeyCheckAgrees(m);
}

std::string Version(const CatalogueEntry &e) {
  char text[16];
  std::snprintf(text, sizeof(text), "%02d.%02d.%02d", e.cid, e.pid, e.txx);
  return text;
}

// Nanoseconds of host CPU per transaction, and that as a share of one byte write at 100 kHz.
void PrintCpuCells(FILE *out, const RunMeasure &m, const CpuCost &cost) {
  const double transactions = static_cast<double>(m.bus.writes + m.bus.reads);
  const double perTransaction = cost.ToolNs() / transactions;
  const double writeNs =
      static_cast<double>(sim::BusBitsToMicros(sim::kWriteByteBits, kSlowBusHz)) * 1000.0;
  std::fprintf(out, " %.0f ns | %.4f %% |", perTransaction, 100.0 * perTransaction / writeNs);
}

// CPU figures mean little from an unoptimised or sanitised build; say which this is.
const char *BuildKind() {
#if defined(__SANITIZE_ADDRESS__)
  return "sanitised (ASan), so not representative";
#elif !defined(__OPTIMIZE__)
  return "unoptimised, so not representative";
#else
  return "optimised, unsanitised";
#endif
}

} // namespace

bool CountsAgree(const EntryRuns &runs) {
  return RunAgrees(runs.at100) && RunAgrees(runs.at400);
}

void PrintCountCheck(FILE *out, const std::vector<EntryRuns> &runs) {
  for (const EntryRuns &r : runs) {
    const RunMeasure &m = r.at100;
    const CatalogueEntry &e = FirmwareCatalogue[m.entry];
    const BusCount floor = FloorTotal(e.length);
    std::fprintf(
        out,
        "entry %d (/f %d %d, %u bytes): status %lld, %s; writes %llu/%llu, reads "
        "%llu/%llu (run/floor); key-area read-back %llu/%llu writes, %llu/%llu reads: %s\n",
        m.entry, e.cid, e.pid, e.length, static_cast<long long>(m.status),
        m.flashed ? "flashed" : "NOT flashed", (unsigned long long)m.bus.writes,
        (unsigned long long)floor.writes, (unsigned long long)m.bus.reads,
        (unsigned long long)floor.reads, (unsigned long long)m.keyCheck.writes,
        (unsigned long long)FloorKeyReadBack().writes, (unsigned long long)m.keyCheck.reads,
        (unsigned long long)FloorKeyReadBack().reads, CountsAgree(r) ? "agree" : "MISMATCH");
  }
}

void PrintEntryTable(FILE *out, const std::vector<EntryRuns> &runs,
                     const std::vector<CpuCost> &cpu) {
  const bool withCpu = cpu.size() == runs.size();
  std::fprintf(out, "| # | Command | Target | Image bytes | Pages | Writes (run) | Writes (floor) "
                    "| Reads (run) | Reads (floor) | Agree | Bus at 100 kHz | Bus at 400 kHz | "
                    "Mandated waits | Total at 100 kHz | Total at 400 kHz |");
  if (withCpu)
    std::fprintf(out, " Tool CPU / transaction | Share of a 100 kHz write |");
  std::fprintf(out, "\n|---|---|---|--:|--:|--:|--:|--:|--:|---|--:|--:|--:|--:|--:|");
  if (withCpu)
    std::fprintf(out, "--:|--:|");
  std::fprintf(out, "\n");

  for (size_t i = 0; i < runs.size(); ++i) {
    const RunMeasure &slow = runs[i].at100;
    const RunMeasure &fast = runs[i].at400;
    const CatalogueEntry &e = FirmwareCatalogue[slow.entry];
    const BusCount floor = FloorTotal(e.length);
    std::fprintf(
        out,
        "| %d | `/f %d %d` | %s | %u | %u | %llu | %llu | %llu | %llu | %s | %s | %s "
        "| %s | %s | %s |",
        slow.entry, e.cid, e.pid, Version(e).c_str(), e.length, PagesFor(e.length),
        (unsigned long long)slow.bus.writes, (unsigned long long)floor.writes,
        (unsigned long long)slow.bus.reads, (unsigned long long)floor.reads,
        CountsAgree(runs[i]) ? "yes" : "**NO**", Seconds(slow.runMicros - slow.waitMicros).c_str(),
        Seconds(fast.runMicros - fast.waitMicros).c_str(), Seconds(slow.waitMicros).c_str(),
        Seconds(slow.runMicros).c_str(), Seconds(fast.runMicros).c_str());
    if (withCpu)
      PrintCpuCells(out, slow, cpu[i]);
    std::fprintf(out, "\n");
  }

  // The key-area read-back is in every run above; it is shown from the first.
  if (!runs.empty()) {
    const RunMeasure &m = runs.front().at100;
    const BusCount floor = FloorKeyReadBack();
    bool agree = true;
    for (const EntryRuns &r : runs)
      agree = agree && KeyCheckAgrees(r.at100) && KeyCheckAgrees(r.at400);
    std::fprintf(out,
                 "| | key-area read-back, part of every row | | %u | %u | %llu | %llu | %llu "
                 "| %llu | %s | %s | %s | | | |",
                 kHdcpKeySize, kHdcpKeyPages, (unsigned long long)m.keyCheck.writes,
                 (unsigned long long)floor.writes, (unsigned long long)m.keyCheck.reads,
                 (unsigned long long)floor.reads, agree ? "yes" : "**NO**",
                 Seconds(sim::BusBitsToMicros(m.keyCheckBits, kSlowBusHz)).c_str(),
                 Seconds(sim::BusBitsToMicros(m.keyCheckBits, 4 * kSlowBusHz)).c_str());
    if (withCpu)
      std::fprintf(out, " | |");
    std::fprintf(out, "\n");
  }

  std::fprintf(out,
               "\nFloor: counted from the register protocol alone, one transaction per register "
               "access: %s. Bus time is the modelled SMBus time (a byte write is %llu bit times, "
               "a byte read %llu); the mandated waits are the tool's Stall calls (1 s before the "
               "EC start command, 0.5 s before the chip id read, 10 ms after it, 100 ms after "
               "ConfigPara, 1 s after the erase).\n",
               "version read 3 writes + 3 reads, access released 2, chip id read 3 + 2, "
               "ConfigPara 8, FlashPreamble 8 and FlashPostamble 2 around each flash routine, "
               "28 writes per firmware page, 26 per key page, 9 writes per read page plus one "
               "read per byte",
               (unsigned long long)sim::kWriteByteBits, (unsigned long long)sim::kReadByteBits);

  if (withCpu) {
    // The notes give the reference run's split; the table's CPU columns give every entry's.
    for (size_t i = 0; i < runs.size(); ++i) {
      const CatalogueEntry &e = FirmwareCatalogue[runs[i].at100.entry];
      if (e.cid != 2 || e.pid != 6)
        continue;
      const double transactions =
          static_cast<double>(runs[i].at100.bus.writes + runs[i].at100.bus.reads);
      std::fprintf(out,
                   "\nHost CPU (%s build, Google Benchmark; the bus returns as soon as the model "
                   "has acted): a whole `/f %d %d` run takes %.2f ms for %.0f "
                   "transactions; replaying the same transactions on the bus and chip model alone "
                   "takes %.2f ms and the same console calls on the host screen model %.2f ms, "
                   "which leaves %.2f ms (%.0f ns per transaction) to the tool itself. The tool's "
                   "share is the "
                   "difference of three measurements, each the least of five repetitions: on a "
                   "busy machine it moves by several ns per transaction from one bench to the "
                   "next, so read it for its order of magnitude.\n",
                   BuildKind(), e.cid, e.pid, cpu[i].runNs / 1e6, transactions,
                   cpu[i].modelNs / 1e6, cpu[i].consoleNs / 1e6, cpu[i].ToolNs() / 1e6,
                   cpu[i].ToolNs() / transactions);
    }
  }
}

bool PrintFootprint(FILE *out, const std::string &efiPath, const std::string &objectsDir,
                    const RunMeasure &run) {
  const std::vector<uint8_t> file = ReadWholeFile(efiPath);
  PeImage image;
  std::string error;
  if (file.empty() || !ParsePeImage(file, image, error)) {
    std::fprintf(stderr, "bench: cannot read %s: %s\n", efiPath.c_str(),
                 file.empty() ? "missing or empty" : error.c_str());
    return false;
  }
  uint64_t codeRaw = 0;
  uint64_t codeLoaded = 0;
  uint64_t readOnlyRaw = 0;
  uint64_t readOnlyLoaded = 0;
  uint64_t writableRaw = 0;
  uint64_t writableLoaded = 0;
  for (const PeSection &s : image.sections) {
    if (s.characteristics & kSectionCode) {
      codeRaw += s.rawSize;
      codeLoaded += s.virtualSize;
    } else if (s.characteristics & kSectionWritable) {
      writableRaw += s.rawSize;
      writableLoaded += s.virtualSize;
    } else if (!(s.characteristics & kSectionDiscardable)) {
      readOnlyRaw += s.rawSize;
      readOnlyLoaded += s.virtualSize;
    }
  }
  uint64_t images = 0;
  for (const CatalogueEntry &e : FirmwareCatalogue)
    images += e.length;
  const uint64_t accounted = codeRaw + readOnlyRaw + writableRaw;
  const uint64_t accountedLoaded = codeLoaded + readOnlyLoaded + writableLoaded;

  std::fprintf(out, "\n### Footprint of Panelup.efi\n\n");
  std::fprintf(out, "| Part | In the file (bytes) | Loaded (bytes) |\n|---|--:|--:|\n");
  std::fprintf(out, "| Code | %llu | %llu |\n", (unsigned long long)codeRaw,
               (unsigned long long)codeLoaded);
  std::fprintf(out, "| Data without images: read-only | %llu | %llu |\n",
               (unsigned long long)(readOnlyRaw - std::min(images, readOnlyRaw)),
               (unsigned long long)(readOnlyLoaded - std::min(images, readOnlyLoaded)));
  std::fprintf(out,
               "| Data without images: writable (buffers zero-filled at load) | %llu | %llu |\n",
               (unsigned long long)writableRaw, (unsigned long long)writableLoaded);
  std::fprintf(out, "| Images (the nine catalogue entries) | %llu | %llu |\n",
               (unsigned long long)images, (unsigned long long)images);
  std::fprintf(out, "| Headers, relocations, alignment | %llu | %llu |\n",
               (unsigned long long)(file.size() - std::min<uint64_t>(accounted, file.size())),
               (unsigned long long)(image.sizeOfImage -
                                    std::min<uint64_t>(accountedLoaded, image.sizeOfImage)));
  std::fprintf(out, "| **Total** | %zu | %u |\n", file.size(), image.sizeOfImage);
  std::fprintf(out, "\nSections:");
  for (const PeSection &s : image.sections)
    std::fprintf(out, " `%s` %u in the file, %u loaded;", s.name.c_str(), s.rawSize, s.virtualSize);
  std::fprintf(out, " images counted from the catalogue's lengths.\n");

  std::vector<StaticObject> objects;
  std::error_code ec;
  for (const auto &item : std::filesystem::recursive_directory_iterator(objectsDir, ec)) {
    if (item.path().extension() != ".obj")
      continue;
    if (!ParseStaticObjects(ReadWholeFile(item.path().string()), objects, error)) {
      std::fprintf(stderr, "bench: %s: %s\n", item.path().c_str(), error.c_str());
      return false;
    }
  }
  if (ec || objects.empty()) {
    std::fprintf(stderr, "bench: no objects with static data under %s\n", objectsDir.c_str());
    return false;
  }
  std::sort(objects.begin(), objects.end(),
            [](const StaticObject &a, const StaticObject &b) { return a.bytes > b.bytes; });
  // What the headers declare, for the buffers they name.
  const std::map<std::string, uint64_t> declared = {
      {"ReadBackBuffer", kReadBackBufferSize},
      {"HdcpKeyBuffer", kHdcpKeySize},
      {"gFallbackBuffer", kPrintBufferBytes},
      {"gArgumentText", kArgumentTextBytes},
      {"gOptionText", kArgumentTextBytes * sizeof(CHAR16)},
      {"gArgumentVector", (kMaxArguments + 1) * sizeof(char *)},
      {"gOptionVector", kMaxArguments * sizeof(CHAR16 *)},
  };
  std::fprintf(out, "\nLargest static buffers (from the firmware build's objects; sizes run to the "
                    "next symbol, so they include alignment):\n\n");
  std::fprintf(out, "| Buffer | Section | Bytes | Declared |\n|---|---|--:|--:|\n");
  for (size_t i = 0; i < objects.size() && i < kBuffersListed; ++i) {
    const std::string name = PlainSymbolName(objects[i].name);
    auto d = declared.find(name);
    std::string declaredText = d == declared.end() ? "" : std::to_string(d->second);
    std::fprintf(out, "| `%s` | `%s` | %u | %s |\n", name.c_str(), objects[i].section.c_str(),
                 objects[i].bytes, declaredText.c_str());
  }

  const CatalogueEntry &e = FirmwareCatalogue[run.entry];
  std::fprintf(out,
               "\nPool memory taken at most at one time during `/f %d %d` (host firmware's "
               "accounting): %llu bytes; %llu allocations in the run, %s.\n",
               e.cid, e.pid, (unsigned long long)run.pool.peakBytes,
               (unsigned long long)run.pool.totalAllocations,
               run.poolBalanced ? "all returned" : "**not all returned**");
  return true;
}

// `make bench`: every catalogue entry flashed on the simulated platform, its SMBus transactions
// held against the register protocol's floor, its modelled duration at two bus clocks, the
// tool's host CPU per transaction, and Panelup.efi's footprint. Markdown on stdout.
//
//   panelup_bench --check                  counts only; exit 1 when any run differs from the floor
//   panelup_bench [--efi FILE --objects DIR] [--min-time SECONDS] [benchmark flags]
//
// Exit status: 0 when every count agrees, 1 when one does not, 2 on bad use or unreadable files.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "tests/bench/report.h"

namespace {

constexpr uint32_t kSlowBusHz = 100000;
constexpr uint32_t kFastBusHz = 400000;

struct Options {
  bool checkOnly = false;
  std::string efi;
  std::string objects;
  double minTime = 0.2;
  std::vector<char *> benchmarkArgs; // passed on to Google Benchmark, program name first
};

bool ParseOptions(int argc, char **argv, Options &o) {
  o.benchmarkArgs.push_back(argv[0]);
  for (int i = 1; i < argc; ++i) {
    auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
    if (std::strcmp(argv[i], "--check") == 0) {
      o.checkOnly = true;
    } else if (std::strcmp(argv[i], "--efi") == 0) {
      const char *v = value();
      if (!v)
        return false;
      o.efi = v;
    } else if (std::strcmp(argv[i], "--objects") == 0) {
      const char *v = value();
      if (!v)
        return false;
      o.objects = v;
    } else if (std::strcmp(argv[i], "--min-time") == 0) {
      const char *v = value();
      if (!v)
        return false;
      char *end = nullptr;
      o.minTime = std::strtod(v, &end);
      if (end == v || *end != 0 || !(o.minTime > 0)) // NaN is not a time either
        return false;
    } else if (std::strncmp(argv[i], "--benchmark_", 12) == 0) {
      o.benchmarkArgs.push_back(argv[i]);
    } else {
      return false;
    }
  }
  return o.efi.empty() == o.objects.empty();
}

} // namespace

int main(int argc, char **argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: %s [--check] [--efi Panelup.efi --objects DIR] [--min-time S] "
                 "[--benchmark_...]\n",
                 argv[0]);
    return 2;
  }

  std::vector<EntryRuns> runs;
  std::vector<RunMeasure> slowRuns;
  bool agree = true;
  for (int entry = 0; entry < kCatalogueEntryCount; ++entry) {
    runs.push_back({MeasureFlash(entry, kSlowBusHz), MeasureFlash(entry, kFastBusHz)});
    slowRuns.push_back(runs.back().at100);
    agree = agree && CountsAgree(runs.back());
  }

  if (options.checkOnly) {
    PrintCountCheck(stdout, runs);
    std::printf("%s\n", agree ? "all runs agree with the floor" : "MISMATCH with the floor");
    return agree ? 0 : 1;
  }

  std::vector<CpuCost> cpu =
      MeasureCpu(slowRuns, options.minTime, static_cast<int>(options.benchmarkArgs.size()),
                 options.benchmarkArgs.data());
  std::printf("### `/f` on the simulated platform, per catalogue entry\n\n");
  PrintEntryTable(stdout, runs, cpu);

  if (!options.efi.empty()) {
    const RunMeasure *reference = &slowRuns.front();
    for (const RunMeasure &m : slowRuns)
      if (FirmwareCatalogue[m.entry].cid == 2 && FirmwareCatalogue[m.entry].pid == 6)
        reference = &m;
    if (!PrintFootprint(stdout, options.efi, options.objects, *reference))
      return 2;
  }
  if (!agree)
    std::fprintf(stderr, "bench: transaction counts differ from the floor (see Agree)\n");
  return agree ? 0 : 1;
}

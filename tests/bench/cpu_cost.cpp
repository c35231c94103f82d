#include "tests/bench/cpu_cost.h"

#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

namespace {

// The bus has no clock of its own here: every transaction returns as soon as the model has done
// its work, so what is measured is CPU time only.
void BenchRun(benchmark::State &state, const RunMeasure *run) {
  sim::HostPlatform p;
  p.Bus().observer = nullptr; // the test trace is the harness's, not the firmware's
  const std::vector<std::string> args = FlashArguments(run->entry);
  for ([[maybe_unused]] auto _ : state)
    benchmark::DoNotOptimize(p.Run(args));
}

void BenchModel(benchmark::State &state, const RunMeasure *run) {
  auto chip = std::make_unique<sim::BridgeChip>();
  sim::ChipPowerOn(*chip, sim::ChipConfig{});
  sim::SimBus bus;
  sim::BusInit(bus, chip.get());
  for ([[maybe_unused]] auto _ : state) {
    for (const sim::Transaction &t : run->trace) {
      // The run's own clock, so the erase is over when the pages come, as it was in the run.
      sim::gSimNowMicros = t.timeMicros;
      bool read = t.op == sim::Op::Read;
      UINTN length = 1;
      uint8_t byte = read ? 0xFF : t.value;
      bus.protocol.Execute(&bus.protocol, sim::kChipAddress, t.reg,
                           read ? EfiSmbusReadByte : EfiSmbusWriteByte, /*pecCheck=*/0, &length,
                           &byte);
      benchmark::DoNotOptimize(byte);
    }
  }
}

void BenchConsole(benchmark::State &state, const RunMeasure *run) {
  std::unique_ptr<sim::HostPlatform> p;
  for ([[maybe_unused]] auto _ : state) {
    // A fresh platform each time, so the console records do not pile up across iterations.
    state.PauseTiming();
    p.reset();
    p = std::make_unique<sim::HostPlatform>();
    EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *out = p->SystemTable()->ConOut;
    state.ResumeTiming();
    for (const sim::ConsoleCall &c : run->console) {
      switch (c.op) {
      case sim::ConsoleOp::OutputString:
        out->OutputString(out, c.text.c_str());
        break;
      case sim::ConsoleOp::ClearScreen:
        out->ClearScreen(out);
        break;
      case sim::ConsoleOp::SetCursorPosition:
        out->SetCursorPosition(out, c.a, c.b);
        break;
      case sim::ConsoleOp::SetAttribute:
        out->SetAttribute(out, c.a);
        break;
      case sim::ConsoleOp::EnableCursor:
        out->EnableCursor(out, static_cast<BOOLEAN>(c.a != 0));
        break;
      }
    }
  }
}

// Each figure is the least of several repetitions: the tool's share is a difference of three
// measurements, and on a shared machine interference only ever adds time.
constexpr int kRepetitions = 5;

// Keeps each benchmark's least CPU time per iteration, in nanoseconds, by name.
class Collector : public benchmark::BenchmarkReporter {
public:
  bool ReportContext(const Context & /*context*/) override { return true; }
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      if (run.error_occurred || run.iterations == 0 || run.run_type != Run::RT_Iteration)
        continue;
      double ns = run.GetAdjustedCPUTime() *
                  benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                  benchmark::GetTimeUnitMultiplier(run.time_unit);
      auto [at, added] = cpuNs.try_emplace(run.run_name.function_name, ns);
      if (!added && ns < at->second)
        at->second = ns;
    }
  }
  std::map<std::string, double> cpuNs;
};

} // namespace

std::vector<CpuCost> MeasureCpu(const std::vector<RunMeasure> &runs, double minTimeSeconds,
                                int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  for (const RunMeasure &run : runs) {
    const std::string suffix = "/entry:" + std::to_string(run.entry);
    benchmark::RegisterBenchmark(("run" + suffix).c_str(), BenchRun, &run)
        ->MinTime(minTimeSeconds)
        ->Repetitions(kRepetitions);
    benchmark::RegisterBenchmark(("model" + suffix).c_str(), BenchModel, &run)
        ->MinTime(minTimeSeconds)
        ->Repetitions(kRepetitions);
    benchmark::RegisterBenchmark(("console" + suffix).c_str(), BenchConsole, &run)
        ->MinTime(minTimeSeconds)
        ->Repetitions(kRepetitions);
  }
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  std::vector<CpuCost> costs;
  for (const RunMeasure &run : runs) {
    const std::string suffix = "/entry:" + std::to_string(run.entry);
    costs.push_back({collector.cpuNs["run" + suffix], collector.cpuNs["model" + suffix],
                     collector.cpuNs["console" + suffix]});
  }
  return costs;
}

// The bench's markdown: the per-entry table, the CPU notes and the footprint.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tests/bench/cpu_cost.h"
#include "tests/bench/run_measure.h"

// The same entry run with the bus at 100 kHz and at 400 kHz.
struct EntryRuns {
  RunMeasure at100;
  RunMeasure at400;
};

// True when both runs of every entry flashed, made exactly the floor's transactions, and the
// key-area read-back made the floor's too.
bool CountsAgree(const EntryRuns &runs);

// One line per entry for the count check.
void PrintCountCheck(FILE *out, const std::vector<EntryRuns> &runs);

// `cpu` may be empty (no CPU column then); otherwise one cost per entry.
void PrintEntryTable(FILE *out, const std::vector<EntryRuns> &runs,
                     const std::vector<CpuCost> &cpu);

// Sections of `efiPath`, images apart, and the largest writable static objects of the COFF
// objects under `objectsDir`; the pool figures come from `run`. False when a file cannot be read.
bool PrintFootprint(FILE *out, const std::string &efiPath, const std::string &objectsDir,
                    const RunMeasure &run);

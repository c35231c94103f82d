// panelup_fault_sweep: whole /f updates on the simulated platform, each with one bus fault at one
// transaction index, every run judged by the rules in sweep_rules.cpp.
//
//   panelup_fault_sweep [--target C:P]... [--kinds K,K] (--all | --sample N [--seed S])
//                       [--every KIND@C:P]... [--shard I/N] [--report FILE]
//   panelup_fault_sweep --combine REPORT...
//
// Kinds: fail-from, fail-once, flip-read, ignore-write, cut-and-retry (the bus fails from the
// index on, then the machine and chip are powered on again and the update retried). Every run
// that fails is retried once without its fault. Targets default to 2:6 and 1:3. --all
// faults every index where the kind can strike; --sample picks N seeded indices per kind and
// target; --every puts one kind and target on every index whatever else is chosen. --shard runs
// every N-th run from the I-th (0-based); --report writes the shard's counts for --combine.
// Exit status: 0 clean, 1 a rule was broken (violations listed), 2 bad use or unreadable input.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <unistd.h>

#include "tests/sweep/sweep_rules.h"
#include "tests/sweep/sweep_run.h"
#include "tests/sweep/sweep_tally.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

using namespace sweep;

struct Options {
  std::vector<Target> targets;
  std::vector<FaultKind> kinds;
  bool all = false;
  int64_t sample = -1;
  uint64_t seed = 1;
  std::set<std::pair<int, std::string>> every; // (kind, "cid:pid")
  uint64_t shard = 0, shards = 1;
  std::string report;
  std::vector<std::string> combine;
};

struct Job {
  size_t reference;
  Fault fault;
};

// The run in progress, for the last words of a crashing or sanitizer-stopped process.
char gCurrentRun[160] = "no run started";

// write(2) straight to stderr, safe in a signal handler; a failure leaves nothing to do.
void SayOnStderr(const char *text, size_t length) {
  ssize_t ignored = write(2, text, length);
  (void)ignored;
}

void SayCurrentRun() {
  const char prefix[] = "\nfault sweep stopped during: ";
  SayOnStderr(prefix, sizeof prefix - 1);
  SayOnStderr(gCurrentRun, std::strlen(gCurrentRun));
  SayOnStderr("\n", 1);
}

#if !defined(__SANITIZE_ADDRESS__)
// Without the sanitizers' own handlers, a crash still names its run.
void OnCrash(int signal) {
  SayCurrentRun();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}
#endif

bool SplitPair(const std::string &text, char separator, uint64_t *a, uint64_t *b) {
  unsigned long long x = 0;
  unsigned long long y = 0;
  char format[16];
  std::snprintf(format, sizeof format, "%%llu%c%%llu%%c", separator);
  char end = 0;
  if (std::sscanf(text.c_str(), format, &x, &y, &end) != 2)
    return false;
  *a = x, *b = y;
  return true;
}

bool ParseKinds(const std::string &list, std::vector<FaultKind> *kinds) {
  size_t at = 0;
  while (at <= list.size()) {
    size_t comma = list.find(',', at);
    std::string name = list.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    FaultKind kind = FaultKind::FailFrom;
    if (!ParseKind(name, &kind))
      return false;
    kinds->push_back(kind);
    if (comma == std::string::npos)
      break;
    at = comma + 1;
  }
  return true;
}

// A whole decimal count and nothing more.
bool ParseCount(const std::string &text, int64_t *count) {
  const char *start = text.c_str();
  char *end = nullptr;
  errno = 0;
  long long value = std::strtoll(start, &end, 10);
  if (end == start || *end != 0 || errno != 0)
    return false;
  *count = value;
  return true;
}

// Applies one option that takes a value; false when the option or its value is not understood.
bool ApplyOption(const std::string &a, const std::string &value, Options *o) {
  Target target;
  FaultKind kind = FaultKind::FailFrom;
  if (a == "--target") {
    if (!ParseTarget(value, &target))
      return false;
    o->targets.push_back(target);
    return true;
  }
  if (a == "--kinds")
    return ParseKinds(value, &o->kinds);
  if (a == "--sample")
    return ParseCount(value, &o->sample);
  if (a == "--seed") {
    o->seed = std::strtoull(value.c_str(), nullptr, 0);
    return true;
  }
  if (a == "--every") {
    size_t at = value.find('@');
    if (at == std::string::npos || !ParseKind(value.substr(0, at), &kind) ||
        !ParseTarget(value.substr(at + 1), &target))
      return false;
    o->every.insert({static_cast<int>(kind), TargetKey(target)});
    return true;
  }
  if (a == "--shard")
    return SplitPair(value, '/', &o->shard, &o->shards) && o->shards > 0 && o->shard < o->shards;
  if (a == "--report") {
    o->report = value;
    return true;
  }
  return false;
}

bool ParseOptions(int argc, char **argv, Options *o, std::string *error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--combine") {
      o->combine.assign(argv + i + 1, argv + argc);
      if (o->combine.empty()) {
        *error = "--combine needs report files";
        return false;
      }
      return true;
    }
    if (a == "--all") {
      o->all = true;
      continue;
    }
    if (i + 1 == argc) {
      *error = a + " needs a value";
      return false;
    }
    std::string value = argv[++i];
    if (!ApplyOption(a, value, o)) {
      *error = "bad option: " + a + " " + value;
      return false;
    }
  }
  if (!o->all && o->sample < 0) {
    *error = "choose --all or --sample N";
    return false;
  }
  if (o->targets.empty()) {
    o->targets.resize(2);
    ParseTarget("2:6", &o->targets.front());
    ParseTarget("1:3", &o->targets.back());
  }
  if (o->kinds.empty())
    o->kinds.assign(kAllKinds.begin(), kAllKinds.end());
  return true;
}

// The indices a kind is injected at: every transaction it can strike, or a seeded sample of them.
std::vector<uint64_t> Indices(const Options &o, const Reference &r, FaultKind kind) {
  std::vector<uint64_t> all;
  for (uint64_t i = 0; i < r.transactions; ++i)
    if (KindApplies(kind, r.ops[i]))
      all.push_back(i);
  if (o.all || o.every.contains({static_cast<int>(kind), TargetKey(r.target)}) ||
      static_cast<uint64_t>(o.sample) >= all.size())
    return all;
  // Each kind and target has its own stream, so adding one does not move the others' samples.
  std::mt19937_64 rng(o.seed ^ (uint64_t{r.target.cid} << 40) ^ (uint64_t{r.target.pid} << 32) ^
                      (static_cast<uint64_t>(kind) << 24));
  size_t n = static_cast<size_t>(o.sample);
  for (size_t i = 0; i < n; ++i) {
    std::uniform_int_distribution<size_t> pick(i, all.size() - 1);
    std::swap(all[i], all[pick(rng)]);
  }
  all.resize(n);
  std::sort(all.begin(), all.end());
  return all;
}

int Combine(const Options &o) {
  Tally tally;
  for (const std::string &path : o.combine) {
    std::string error;
    if (!MergeReport(path, &tally, &error)) {
      std::cerr << "fault sweep: " << error << "\n";
      return 2;
    }
  }
  std::cout << "shard reports:";
  for (const std::string &shard : tally.shardsDone)
    std::cout << " " << shard;
  std::cout << "\n";
  PrintSummary(std::cout, tally);
  return tally.violations.empty() ? 0 : 1;
}

int Sweep(const Options &o) {
  // A report left from an earlier sweep must not stand in for this one if this one stops.
  if (!o.report.empty())
    std::remove(o.report.c_str());
  std::vector<Reference> references(o.targets.size());
  Tally tally;
  for (size_t t = 0; t < o.targets.size(); ++t) {
    std::string error;
    if (!LearnReference(o.targets[t], &references[t], &error)) {
      std::cerr << "fault sweep: " << error << "\n";
      return 2;
    }
    tally.AddTarget(references[t]);
  }
  std::vector<Job> jobs;
  for (size_t t = 0; t < references.size(); ++t)
    for (FaultKind kind : o.kinds)
      for (uint64_t index : Indices(o, references[t], kind))
        jobs.push_back(Job{t, Fault{kind, index}});

  const std::string shard = std::to_string(o.shard) + "/" + std::to_string(o.shards);
  uint64_t mine = (jobs.size() + o.shards - 1 - o.shard) / o.shards;
  uint64_t done = 0;
  std::cerr << "fault sweep shard " << shard << ": " << mine << " of " << jobs.size() << " runs\n";
  for (size_t j = o.shard; j < jobs.size(); j += o.shards) {
    const Job &job = jobs[j];
    const Reference &r = references[job.reference];
    std::snprintf(gCurrentRun, sizeof gCurrentRun, "/f %s, %s at transaction %llu",
                  TargetName(r.target).c_str(), KindName(job.fault.kind),
                  static_cast<unsigned long long>(job.fault.index));
    Verdict verdict = Judge(r, job.fault, RunWithFault(r.target, job.fault));
    for (const std::string &what : verdict.violations)
      std::cerr << "VIOLATION " << gCurrentRun << ": " << what << "\n";
    tally.Add(r, job.fault, verdict);
    if (++done % 5000 == 0)
      std::cerr << "fault sweep shard " << shard << ": " << done << "/" << mine << " runs\n";
  }
  std::snprintf(gCurrentRun, sizeof gCurrentRun, "the summary");
  if (!o.report.empty()) {
    std::ofstream out(o.report);
    WriteReport(out, tally, shard);
    if (!out) {
      std::cerr << "fault sweep: cannot write " << o.report << "\n";
      return 2;
    }
  }
  tally.shardsDone.push_back(shard);
  std::cout << "shard " << shard << "\n";
  PrintSummary(std::cout, tally);
  return tally.violations.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_set_death_callback(SayCurrentRun);
#else
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
    std::signal(signal, OnCrash);
#endif
  Options o;
  std::string error;
  if (!ParseOptions(argc, argv, &o, &error)) {
    std::cerr << "fault sweep: " << error << "\n";
    return 2;
  }
  return o.combine.empty() ? Sweep(o) : Combine(o);
}

// Reading a run's event log in tests: bus steps for literal register lists, and the facts whole
// runs are judged by.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "panelup_build_id.h"
#include "sim/host/host_platform.h"

inline bool Contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// How a result record ends: how the run ended the boot, its attempts and this build's id.
inline std::string RecordTail(const std::string &then, int attempts) {
  return " then=" + then + " attempts=" + std::to_string(attempts) + " build=" PANELUP_BUILD_ID;
}

// Whether the chip's flash holds catalogue entry `entry`'s image from address 0.
inline bool FlashHolds(sim::HostPlatform &p, int entry) {
  const CatalogueEntry &e = FirmwareCatalogue[entry];
  return std::equal(e.image, e.image + e.length, p.Chip().flash);
}

// One bus transaction as an expected list writes it. A step whose value is kAnyByte matches
// whatever byte was read, for lists of flash data reads.
constexpr int kAnyByte = -1;
struct Step {
  char op; // 'W' or 'R'
  uint8_t reg;
  int value;
  bool operator==(const Step &o) const {
    return op == o.op && reg == o.reg &&
           (value == o.value || value == kAnyByte || o.value == kAnyByte);
  }
};

inline std::ostream &operator<<(std::ostream &os, const Step &s) {
  return os << s.op << ' ' << std::hex << int(s.reg) << '=' << s.value << std::dec;
}

// The run's transactions from the `first` on.
inline std::vector<Step> Steps(const sim::HostPlatform &p, size_t first = 0) {
  std::vector<Step> out;
  std::vector<sim::Transaction> trace = p.Recorded<sim::Transaction>();
  for (size_t i = first; i < trace.size(); ++i)
    out.push_back({trace[i].op == sim::Op::Write ? 'W' : 'R', trace[i].reg, trace[i].value});
  return out;
}

inline std::vector<Step> Concat(std::initializer_list<std::vector<Step>> parts) {
  std::vector<Step> out;
  for (const auto &p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline std::vector<Step> Reads(uint8_t reg, int count) {
  return std::vector<Step>(count, Step{'R', reg, kAnyByte});
}

inline std::vector<sim::ConsoleCall> ConsoleCalls(const sim::HostPlatform &p, sim::ConsoleOp op) {
  std::vector<sim::ConsoleCall> calls = p.Recorded<sim::ConsoleCall>();
  std::erase_if(calls, [op](const sim::ConsoleCall &c) { return c.op != op; });
  return calls;
}

// SetAttribute arguments in order.
inline std::vector<uint64_t> Attributes(const sim::HostPlatform &p) {
  std::vector<uint64_t> values;
  for (const sim::ConsoleCall &c : ConsoleCalls(p, sim::ConsoleOp::SetAttribute))
    values.push_back(c.a);
  return values;
}

inline std::vector<uint64_t> Stalls(const sim::HostPlatform &p) {
  std::vector<uint64_t> micros;
  for (const sim::StallCall &s : p.Recorded<sim::StallCall>())
    micros.push_back(s.micros);
  return micros;
}

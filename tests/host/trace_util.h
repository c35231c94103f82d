// Reading the simulated bus trace as a list of register accesses, for comparing with literal lists.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "sim/sim_bus.h"

// One transaction as written in an expected list; reads carry the byte the chip returned.
struct Step {
  char op; // 'W' or 'R'
  uint8_t reg;
  uint8_t value;
  bool operator==(const Step &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const Step &s) {
  return os << s.op << ' ' << std::hex << int(s.reg) << '=' << int(s.value) << std::dec;
}

inline std::vector<Step> Steps(const std::vector<sim::Transaction> &trace) {
  std::vector<Step> out;
  out.reserve(trace.size());
  for (const sim::Transaction &t : trace)
    out.push_back({t.op == sim::Op::Write ? 'W' : 'R', t.reg, t.value});
  return out;
}

// The same with the bytes read left out of the comparison, for lists of flash data reads.
struct Access {
  char op; // 'W' or 'R'
  uint8_t reg;
  uint8_t value; // written value; reads compare only the register
  bool operator==(const Access &o) const {
    return op == o.op && reg == o.reg && (op == 'R' || value == o.value);
  }
};

inline std::ostream &operator<<(std::ostream &os, const Access &a) {
  return os << a.op << ' ' << std::hex << int(a.reg) << '=' << int(a.value) << std::dec;
}

inline std::vector<Access> AccessesFrom(const std::vector<sim::Transaction> &trace, size_t first) {
  std::vector<Access> out;
  for (size_t i = first; i < trace.size(); ++i)
    out.push_back({trace[i].op == sim::Op::Write ? 'W' : 'R', trace[i].reg, trace[i].value});
  return out;
}

inline std::vector<Access> Concat(std::initializer_list<std::vector<Access>> parts) {
  std::vector<Access> out;
  for (const auto &p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline std::vector<Access> Reads(uint8_t reg, int count) {
  return std::vector<Access>(count, Access{'R', reg, 0});
}

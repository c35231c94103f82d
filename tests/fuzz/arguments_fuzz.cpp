// Fuzzes the argument vector through the real entry on the host platform: whatever the shell hands
// over, the run must end with a documented status, return its pool memory, keep the cursor on
// the screen and leave alone every CMOS byte but the four it owns.
//
// With bit 7 of the first byte set the arguments are raw UCS-2 instead, given to the conversion
// alone: that reaches what no UTF-8 command line carries (lone surrogates, any unit).
//
// Input: four set-up bytes, then the arguments (argv[0] included) separated by '\n'.
//   byte 0  bits 0-1  chip: present, no SMBus controller, HandleProtocol failing, other chip id
//           bits 2-3  arguments through: shell parameters, shell interface, load options
//           bits 4-5  pool: sound, every allocation failing, allocation number byte 3 failing
//           bit 6     run the same arguments a second time on the same machine
//           bit 7     conversion only: the rest is UCS-2 (little endian), separated by u'\n'
//   byte 1  CMOS 0x70 and the chip's version CID
//   byte 2  CMOS 0x71 and the chip's version PID
//   byte 3  the failing allocation, 1-based
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/host/host_platform.h"
#include "sim/host/text.h"
#include "uefi/arguments.h"

namespace {

constexpr size_t kSetUpBytes = 4;
constexpr size_t kMaxFuzzArguments = 40; // more than the entry keeps

[[noreturn]] void Fail(const char *what, long long value) {
  std::fprintf(stderr, "invariant broken: %s (%lld)\n", what, value);
  std::abort();
}

bool DocumentedStatus(int64_t status) {
  for (int64_t s : {0, 10, 11, 21, 22, 24, 30, 31, 248, 255})
    if (status == s)
      return true;
  return false;
}

// CMOS bytes the tool may write: the published version and the update status.
bool ToolOwnedCmos(size_t index) {
  return (index >= 0x70 && index <= 0x72) || index == 0x79;
}

std::vector<std::string> SplitArguments(const uint8_t *data, size_t size) {
  std::vector<std::string> args;
  if (size == 0)
    return args;
  std::string current;
  for (size_t i = 0; i < size && args.size() < kMaxFuzzArguments; ++i) {
    if (data[i] == '\n') {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (args.size() < kMaxFuzzArguments)
    args.push_back(current);
  return args;
}

sim::HostOptions OptionsFrom(const uint8_t *setUp) {
  sim::HostOptions o;
  switch (setUp[0] & 3) {
  case 1:
    o.smbusControllers = 0;
    break;
  case 2:
    o.handleProtocolFails = true;
    break;
  case 3:
    o.chip.idLow = 0x06;
    break;
  }
  switch ((setUp[0] >> 2) & 3) {
  case 1:
    o.arguments = sim::ArgumentSource::ShellInterface;
    break;
  case 2:
    o.arguments = sim::ArgumentSource::LoadOptions;
    break;
  }
  switch ((setUp[0] >> 4) & 3) {
  case 2:
    o.failAllAllocations = true;
    break;
  case 3:
    o.failAllocationNumber = 1 + setUp[3];
    break;
  }
  // Recognisable power-on CMOS, so a stray write shows.
  for (size_t i = 0; i < o.cmos.size(); ++i)
    o.cmos[i] = static_cast<uint8_t>(0x5A ^ (i * 7));
  o.cmos[0x70] = setUp[1];
  o.cmos[0x71] = setUp[2];
  o.chip.cid = setUp[1];
  o.chip.pid = setUp[2];
  return o;
}

std::vector<uint8_t> Flash(sim::HostPlatform &p) {
  return std::vector<uint8_t>(p.Chip().flash, p.Chip().flash + sim::kFlashSize);
}

void CheckRun(sim::HostPlatform &p, int64_t status, const sim::HostOptions &o,
              const std::vector<uint8_t> &flashBefore) {
  if (!DocumentedStatus(status))
    Fail("undocumented exit status", status);
  if (!p.PoolBalanced()) {
    for (const std::string &e : p.PoolErrors())
      std::fprintf(stderr, "pool: %s\n", e.c_str());
    Fail("pool not balanced, allocations outstanding",
         static_cast<long long>(p.Pool().outstandingCount));
  }
  if (p.Mode().CursorColumn < 0 || p.Mode().CursorColumn >= sim::kScreenColumns)
    Fail("cursor column off the screen", p.Mode().CursorColumn);
  if (p.Mode().CursorRow < 0 || p.Mode().CursorRow >= sim::kScreenRows)
    Fail("cursor row off the screen", p.Mode().CursorRow);
  for (size_t i = 0; i < o.cmos.size(); ++i)
    if (!ToolOwnedCmos(i) && p.Cmos(static_cast<uint8_t>(i)) != o.cmos[i])
      Fail("CMOS byte outside the tool's own changed", static_cast<long long>(i));
  if (ArgumentsWereCut() && !p.Recorded<sim::Transaction>().empty())
    Fail("a run with a cut argument reached the chip",
         static_cast<long long>(p.Recorded<sim::Transaction>().size()));
  // Only an update that got as far as comparing may have touched the flash; a passed one must
  // leave the chip its own key area.
  const sim::BridgeChip &chip = p.Chip();
  if (status != 0 && status != 248 &&
      std::memcmp(chip.flash, flashBefore.data(), flashBefore.size()) != 0)
    Fail("flash changed by a run that did not update", status);
  if (status == 0 &&
      std::memcmp(chip.flash + sim::kKeyAreaAddress, chip.originalKeyArea, sim::kKeyAreaSize) != 0)
    Fail("update passed but the key area differs", status);
}

// Bytes of the UTF-8 form of `text`, a lone surrogate counting as U+FFFD.
size_t Utf8Length(const std::u16string &text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      n += 4;
      ++i;
    } else {
      n += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
    }
  }
  return n;
}

// `word` as the conversion should give it back: up to its first NUL, lone surrogates replaced.
std::u16string Expected(const std::u16string &word) {
  std::u16string text = word.substr(0, word.find(u'\0'));
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF;
    if (pair)
      ++i;
    else if (c >= 0xD800 && c <= 0xDFFF)
      text[i] = 0xFFFD;
  }
  return text;
}

// The first kMaxArguments arguments are all kept, since their count picks the command. Each must
// come out as well-formed UTF-8 of its UCS-2: whole when all of them fit the text storage,
// otherwise cut at a character boundary.
void CheckConversion(const uint8_t *data, size_t size) {
  std::vector<std::u16string> words(1);
  for (size_t i = 0; i + 1 < size; i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c != u'\n')
      words.back() += c;
    else if (words.size() < kMaxFuzzArguments)
      words.emplace_back();
    else
      break;
  }
  std::vector<const CHAR16 *> vector;
  vector.reserve(words.size());
  for (const std::u16string &w : words)
    vector.push_back(w.c_str());
  char **out = nullptr;
  const int count = ConvertArguments(vector.data(), vector.size(), &out);
  const size_t kept = words.size() < size_t{kMaxArguments} ? words.size() : kMaxArguments;
  if (count < 0 || static_cast<size_t>(count) != kept)
    Fail("arguments dropped", count);
  if (out[count] != nullptr)
    Fail("argument vector not ended by a null pointer", count);
  size_t needed = 0;
  for (size_t i = 0; i < kept; ++i)
    needed += Utf8Length(Expected(words[i])) + 1;
  const bool fits = needed <= size_t{kArgumentTextBytes};
  if (ArgumentsWereCut() != (!fits || words.size() > kept))
    Fail("a cut reported wrong", count);
  for (int i = 0; i < count; ++i) {
    const std::string bytes = out[i];
    for (size_t b = 0; b + 1 < bytes.size(); ++b)
      if (static_cast<uint8_t>(bytes[b]) == 0xED && static_cast<uint8_t>(bytes[b + 1]) >= 0xA0)
        Fail("surrogate encoded in UTF-8", i);
    const std::u16string got = sim::Utf8ToUcs2(bytes);
    const std::u16string expected = Expected(words[i]);
    if (fits ? got != expected : expected.compare(0, got.size(), got) != 0)
      Fail("argument converted wrong", i);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kSetUpBytes)
    return -1;
  if (data[0] & 0x80) {
    CheckConversion(data + kSetUpBytes, size - kSetUpBytes);
    return 0;
  }
  const sim::HostOptions options = OptionsFrom(data);
  const bool runTwice = (data[0] & 0x40) != 0;
  const std::vector<std::string> args = SplitArguments(data + kSetUpBytes, size - kSetUpBytes);

  sim::HostPlatform p(options);
  const std::vector<uint8_t> powerOnFlash = Flash(p);
  const int64_t status = p.Run(args);
  CheckRun(p, status, options, powerOnFlash);

  if (runTwice) {
    // A second run in the same loaded state must behave as a fresh load would. An update changes
    // the chip, and a numbered allocation failure hits only once, so those are not compared.
    const std::vector<uint8_t> flashBefore = Flash(p);
    const bool comparable = flashBefore == powerOnFlash && (data[0] & 0x30) != 0x30;
    const std::string screen = p.ScreenText();
    const int64_t again = p.Run(args);
    CheckRun(p, again, options, flashBefore);
    if (comparable && again != status)
      Fail("second run gave another status", again);
    if (comparable && p.ScreenText() != screen)
      Fail("second run left another screen", again);
  }
  return 0;
}

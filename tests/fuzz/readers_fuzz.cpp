// Fuzzes the readers panelupctl runs on what the machine hands it (the result record, boot
// entries, an image's bytes and build mark, the catalogue file) and the tool's reader of the
// schedule: none may read past its input, and what a reader accepts must read back the same
// once written again. One target per reader, chosen by READER at compile time
// (cmake/fuzz.cmake).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "formats/catalogue_file.h"
#include "formats/result_record.h"
#include "formats/schedule.h"
#include "image.h"
#include "load_option.h"

namespace {

[[maybe_unused]] void Require(bool holds) {
  if (!holds)
    std::abort();
}

[[maybe_unused]] bool SameRecord(const ResultRecord &a, const ResultRecord &b) {
  return a.cid == b.cid && a.pid == b.pid && a.exit == b.exit && a.hasFrom == b.hasFrom &&
         a.hasTo == b.hasTo && a.hasTime == b.hasTime && a.then == b.then &&
         a.attempts == b.attempts && std::strcmp(a.build, b.build) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A copy of exactly `size` bytes, so ASan sees any read past the input.
  const std::vector<uint8_t> input(data, data + size);
  [[maybe_unused]] const char *text = reinterpret_cast<const char *>(input.data());
  [[maybe_unused]] const uint32_t length = static_cast<uint32_t>(input.size());
#if READER == 1
  ResultRecord r{};
  if (ParseResultRecord(text, length, &r) == RecordProblem::None && r.form == 2) {
    char again[kResultRecordBytes] = {};
    const uint32_t n = FormatResultRecord(r, again);
    ResultRecord back{};
    Require(ParseResultRecord(again, n, &back) == RecordProblem::None && SameRecord(r, back));
  }
#elif READER == 2
  Schedule s{};
  if (ParseSchedule(text, length, &s)) {
    char again[kScheduleBytes] = {};
    const uint32_t n = FormatSchedule(s, again);
    Require(n == length && std::memcmp(again, text, n) == 0);
  }
#elif READER == 3
  LoadOption option;
  if (ParseLoadOption(input, &option) && option.pair) {
    const std::string arguments = FlashArguments((*option.pair)[0], (*option.pair)[1]);
    Require(arguments.size() % 2 == 0);
  }
#elif READER == 4
  const ImageCheck check = CheckImage(input);
  Require(!check.loadable || input.size() >= 64);
  const auto mark = ReadBuildMark(input);
  Require(!mark || std::strlen(mark->id) <= kMaxBuildIdChars);
#elif READER == 5
  CatalogueLine line{};
  ParseCatalogueLine(text, length, &line);
  Require(std::strlen(line.model) <= kMaxModelChars);
#else
#error "READER names the reader: 1 record, 2 schedule, 3 load option, 4 image, 5 catalogue"
#endif
  return 0;
}

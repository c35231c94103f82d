// The rules every faulted run must keep, and how a run is classified for the summary.
#pragma once

#include <string>
#include <vector>

#include "tests/sweep/sweep_run.h"

namespace sweep {

struct Verdict {
  Outcome outcome = Outcome::Other;
  bool struck = false; // the fault met a transaction it applies to
  // Success reported while the flash lacks the image or any byte of the chip's own key area.
  bool falseSuccess = false;
  bool keyDamagedSuccess = false;      // of those, the key area is what is wrong
  bool keyLostFailureReported = false; // the first run lost the key area and said it failed
  bool failureWithFlashRight = false;  // failure reported though image and key area are right
  // The clean retry after a failed run: whether it ran, brought the key area back from the
  // backup, or failed to leave the image and the original key area with exit 0.
  bool retried = false;
  bool retryRestored = false;
  bool retryFailed = false;
  std::vector<std::string> violations;
};

Verdict Judge(const Reference &reference, const Fault &fault, const RunFacts &facts);

} // namespace sweep

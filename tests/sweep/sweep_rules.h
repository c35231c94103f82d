// The rules every faulted run must keep, and how a run is classified for the summary.
#pragma once

#include <string>
#include <vector>

#include "tests/sweep/sweep_run.h"

namespace sweep {

struct Verdict {
  Outcome outcome = Outcome::Other;
  bool struck = false; // the fault met a transaction it applies to
  // Success reported while the flash lacks the image, or lacks the key area for a fault that did
  // not strike the key-area save.
  bool falseSuccess = false;
  // Success reported, key area lost, fault during the key-area save: the tool reads the key area
  // once, so a wrong read there goes back into the flash unnoticed. Counted apart and listed.
  bool keySaveLoss = false;
  bool keyLostFailureReported = false; // honest but destructive
  bool failureWithFlashRight = false;  // failure reported though image and key area are right
  std::vector<std::string> violations;
};

Verdict Judge(const Reference &reference, const Fault &fault, const RunFacts &facts);

} // namespace sweep

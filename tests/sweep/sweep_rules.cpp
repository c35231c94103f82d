#include "tests/sweep/sweep_rules.h"

#include <cstdio>

#include "catalogue/catalogue.h"
#include "chip/registers.h"

namespace sweep {
namespace {

bool Has(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

// CMOS 0x70-0x72 as the tool prints a version.
std::string VersionText(const FirmwareVersion &v) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d.%02d.%02d", v.cid, v.pid, v.txx);
  return text;
}

std::string Bytes(const std::vector<uint8_t> &bytes) {
  std::string text = "[";
  char hex[4];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, " %02X", b);
    text += hex;
  }
  return text + " ]";
}

bool EndsWith(const std::vector<uint8_t> &codes, uint8_t last2, uint8_t last) {
  return codes.size() >= 2 && codes[codes.size() - 2] == last2 && codes.back() == last;
}

// The on-board version as the "flash from [ .. ] to [ .. ]" line printed it; empty without it.
std::string PrintedOnboard(const std::string &text) {
  const size_t at = text.find("flash from [ ");
  const size_t end = text.find(" ]", at);
  return end == std::string::npos ? "" : text.substr(at + 13, end - at - 13);
}

void Require(Verdict &v, bool ok, const std::string &what) {
  if (!ok)
    v.violations.push_back(what);
}

// Exit 0 or 248: the one verdict printed and sent to the EC, CMOS 0x79 ending with 0xF0 or 0xF8
// and 0xFF, and CMOS 0x70-0x72 holding `version`.
void CheckFinished(const RunFacts &f, bool success, const std::string &version, Verdict &v) {
  const std::string exit = "exit " + std::to_string(f.status);
  const char *said = success ? "upgrade success" : "upgrade Fail";
  Require(v, Has(f.text, said), exit + " without '" + said + "'");
  Require(v, !Has(f.text, success ? "upgrade Fail" : "upgrade success"),
          exit + " with the other verdict printed");
  Require(v, f.ec == std::vector<uint8_t>{0x8B, uint8_t(success ? 0x8A : 0x8C)},
          exit + " with EC bytes " + Bytes(f.ec));
  Require(v, EndsWith(f.statusCodes, success ? 0xF0 : 0xF8, 0xFF) && f.cmosStatus == 0xFF,
          exit + " with CMOS 0x79 writes " + Bytes(f.statusCodes));
  Require(v, VersionText(f.cmosVersion) == version,
          exit + " with CMOS version " + VersionText(f.cmosVersion) + ", not " + version);
}

// After any failed run, one clean try must end with the image and the chip's own key area. With
// the backup lost, a key area the fault left damaged cannot come back: the retry must then stop
// before its erase, saying so, and never take the damaged area as the key. With another chip's
// backup it must stop before its erase, saying whose it is, and leave it.
void CheckRetry(const RunFacts &f, Verdict &v) {
  const RetryFacts &r = f.retry;
  v.retryRestored = r.restored;
  v.retryLost = f.backupLost && r.status == 254 && r.lostStop && r.erases == 0 && !r.keyIntact;
  if (f.planted == Planted::Other) {
    const bool ok = r.status == 254 && r.foreignStop && r.erases == 0 && r.keyIntact;
    v.retryFailed = !ok;
    Require(v, ok,
            "the retry with another chip's backup ended with exit " + std::to_string(r.status) +
                (r.keyIntact ? "" : ", without the original key area"));
    Require(v, r.backup == Backup::Other, "the retry did not leave another chip's backup alone");
    return;
  }
  const bool ok = v.retryLost || (r.status == 0 && r.success && r.flashHoldsImage && r.keyIntact);
  v.retryFailed = !ok;
  Require(v, ok,
          "the retry ended with exit " + std::to_string(r.status) +
              (r.flashHoldsImage ? "" : ", without the image") +
              (r.keyIntact ? "" : ", without the original key area") +
              (r.status == 254 && !r.lostStop ? ", without saying the key area is lost" : "") +
              (r.erases != 0 && r.status == 254 ? ", after an erase" : ""));
  Require(v, r.backup == Backup::None, "the retry left the key-area backup behind");
}

// Exit 254 or 255: stopped before the erase, with `message` printed and `codes` in CMOS 0x79.
void CheckStoppedBeforeErase(const RunFacts &f, const std::string &onboard, const char *message,
                             const std::vector<uint8_t> &codes, Verdict &v) {
  const std::string exit = "exit " + std::to_string(f.status);
  Require(v, Has(f.text, message), exit + " without '" + message + "'");
  Require(v, !Has(f.text, "upgrade success") && !Has(f.text, "upgrade Fail"),
          exit + " with an update verdict printed");
  Require(v, f.erases == 0 && f.flashUntouched, exit + " with the flash changed");
  Require(v, f.ec == std::vector<uint8_t>{0x8B}, exit + " with EC bytes " + Bytes(f.ec));
  Require(v, f.statusCodes == codes && f.cmosStatus == 0xF9,
          exit + " with CMOS 0x79 writes " + Bytes(f.statusCodes));
  Require(v, VersionText(f.cmosVersion) == onboard,
          exit + " with CMOS version " + VersionText(f.cmosVersion) + ", printed " + onboard);
  // Neither stop stores a backup, and a planted one is left as it was.
  const Backup left = f.planted == Planted::Own     ? Backup::Original
                      : f.planted == Planted::Other ? Backup::Other
                                                    : Backup::None;
  Require(v, f.backup == left, exit + " with the key-area backup changed");
}

} // namespace

Verdict Judge(const Target &target, const RunFacts &facts) {
  Verdict v;
  Require(v, facts.struck, "the fault never met its transaction");
  Require(v, facts.poolBalanced, "pool not balanced");
  Require(v, !facts.mustSucceed || facts.status == 0,
          "exit " + std::to_string(facts.status) + " though the last attempt was clean");
  Require(v, !facts.mustFail || facts.status == 248,
          "exit " + std::to_string(facts.status) + " though no attempt had a clean read-back");
  // Every run ends in bounded time: once the budget is spent, nothing more goes out.
  Require(v, facts.busFailures <= kFailureBudget,
          std::to_string(facts.busFailures) + " failed transfers, past the budget");
  Require(v, facts.planted != Planted::Other || facts.erases == 0,
          "an erase with another chip's backup in place");
  const std::string onboard = PrintedOnboard(facts.text);
  Require(v, !onboard.empty(), "no 'flash from [ .. ]' line");
  if (facts.status == 0) {
    v.outcome = Outcome::Success;
    CheckFinished(facts, true, VersionText(EntryVersion(FirmwareCatalogue[target.entry])), v);
    v.falseSuccess = !facts.flashHoldsImage || !facts.keyIntact;
    Require(v, facts.flashHoldsImage, "FALSE SUCCESS: the flash does not hold the image");
    Require(v, facts.keyIntact, "FALSE SUCCESS: the key area is not the chip's own");
    Require(v, facts.backup == Backup::None, "exit 0 with the key-area backup left behind");
  } else if (facts.status == 248) {
    v.outcome = Outcome::Failure;
    CheckFinished(facts, false, onboard, v);
    // The erase comes only after the backup is stored, and a failure keeps it.
    Require(v, facts.backup == Backup::Original, "exit 248 without the original key area's backup");
  } else if (facts.status == 254) {
    v.outcome = Outcome::NotErased;
    CheckStoppedBeforeErase(facts, onboard, "flash not erased", {0xF2, 0xF9}, v);
  } else if (facts.status == 255) {
    v.outcome = Outcome::ChipIdFailure;
    CheckStoppedBeforeErase(facts, onboard, "Read chipid fail", {0xF9}, v);
  } else {
    Require(v, false, "exit status " + std::to_string(facts.status));
  }
  if (facts.status != 0)
    CheckRetry(facts, v);
  const Left &last = facts.status != 0 ? static_cast<const Left &>(facts.retry) : facts;
  v.keyLost = !facts.backupLost && !last.keyIntact && last.backup != Backup::Original;
  Require(v, !v.keyLost, "KEY LOST: neither the chip nor a backup holds the chip's key area");
  return v;
}

} // namespace sweep

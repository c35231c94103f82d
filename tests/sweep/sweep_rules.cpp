#include "tests/sweep/sweep_rules.h"

#include <cstdio>

#include "catalogue/catalogue.h"

namespace sweep {
namespace {

bool Has(const std::string &text, const char *part) {
  return text.find(part) != std::string::npos;
}

bool SameVersion(const FirmwareVersion &a, const FirmwareVersion &b) {
  return a.cid == b.cid && a.pid == b.pid && a.txx == b.txx;
}

std::string VersionText(const FirmwareVersion &v) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d", v.cid, v.pid, v.txx);
  return text;
}

std::string Bytes(const std::vector<uint8_t> &bytes) {
  std::string text;
  char hex[4];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    text += (text.empty() ? "" : " ") + std::string(hex);
  }
  return "[" + text + "]";
}

bool EndsWith(const std::vector<uint8_t> &codes, uint8_t last2, uint8_t last) {
  return codes.size() >= 2 && codes[codes.size() - 2] == last2 && codes.back() == last;
}

// The on-board version from the "flash from [ .. ] to [ .. ]" line, if it was printed.
bool PrintedOnboard(const std::string &text, FirmwareVersion *version) {
  size_t at = text.find("flash from [ ");
  int v[3];
  if (at == std::string::npos ||
      // The tool printed three bytes with %d: nothing here can overflow an int.
      // NOLINTNEXTLINE(cert-err34-c)
      std::sscanf(text.c_str() + at, "flash from [ %d.%d.%d ]", &v[0], &v[1], &v[2]) != 3)
    return false;
  *version = FirmwareVersion{static_cast<uint8_t>(v[0]), static_cast<uint8_t>(v[1]),
                             static_cast<uint8_t>(v[2])};
  return true;
}

struct Checker {
  Verdict &verdict;
  void Require(bool ok, const std::string &what) {
    if (!ok)
      verdict.violations.push_back(what);
  }
};

void CheckSuccess(const Reference &reference, const RunFacts &f, Verdict &v) {
  Checker c{v};
  const CatalogueEntry &entry = FirmwareCatalogue[reference.target.entry];
  c.Require(Has(f.text, "upgrade success"), "exit 0 without 'upgrade success'");
  c.Require(!Has(f.text, "upgrade Fail"), "exit 0 with 'upgrade Fail' printed");
  c.Require(f.ec == std::vector<uint8_t>{0x8B, 0x8A}, "exit 0 with EC bytes " + Bytes(f.ec));
  c.Require(EndsWith(f.statusCodes, 0xF0, 0xFF) && f.cmosStatus == 0xFF,
            "exit 0 with CMOS 0x79 writes " + Bytes(f.statusCodes));
  c.Require(SameVersion(f.cmosVersion, EntryVersion(entry)),
            "exit 0 with CMOS version " + VersionText(f.cmosVersion));
  if (!f.flashHoldsImage) {
    v.falseSuccess = true;
    c.Require(false, "FALSE SUCCESS: the flash does not hold the image");
  }
  if (!f.keyIntact) {
    v.falseSuccess = v.keyDamagedSuccess = true;
    c.Require(false, "FALSE SUCCESS: the key area is not the chip's own");
  }
  c.Require(f.backup == Backup::None, "exit 0 with the key-area backup left behind");
}

void CheckFailure(const RunFacts &f, const FirmwareVersion &onboard, Verdict &v) {
  Checker c{v};
  c.Require(Has(f.text, "upgrade Fail"), "exit 248 without 'upgrade Fail'");
  c.Require(!Has(f.text, "upgrade success"), "exit 248 with 'upgrade success' printed");
  c.Require(f.ec == std::vector<uint8_t>{0x8B, 0x8C}, "exit 248 with EC bytes " + Bytes(f.ec));
  c.Require(EndsWith(f.statusCodes, 0xF8, 0xFF) && f.cmosStatus == 0xFF,
            "exit 248 with CMOS 0x79 writes " + Bytes(f.statusCodes));
  c.Require(SameVersion(f.cmosVersion, onboard), "exit 248 with CMOS version " +
                                                     VersionText(f.cmosVersion) + ", printed " +
                                                     VersionText(onboard));
  // The erase comes only after the backup is stored, and a failure keeps it.
  c.Require(f.backup == Backup::Original, "exit 248 without the backup of the original key area");
  v.keyLostFailureReported = !f.keyIntact;
  v.failureWithFlashRight = f.flashHoldsImage && f.keyIntact;
}

// After any failed run, one clean try must end with the image and the chip's own key area.
void CheckRetry(const RunFacts &f, Verdict &v) {
  const RetryFacts &r = f.retry;
  v.retried = true;
  v.retryRestored = r.restored;
  Checker c{v};
  const bool ok = r.status == 0 && r.success && r.flashHoldsImage && r.keyIntact;
  v.retryFailed = !ok;
  c.Require(ok, "the retry ended with exit " + std::to_string(r.status) +
                    (r.flashHoldsImage ? "" : ", without the image") +
                    (r.keyIntact ? "" : ", without the original key area"));
  c.Require(r.backup == Backup::None, "the retry left the key-area backup behind");
}

// Exit 254 or 255: stopped before the erase, with `message` printed and `codes` in CMOS 0x79.
void CheckStoppedBeforeErase(const RunFacts &f, const FirmwareVersion &onboard, const char *message,
                             const std::vector<uint8_t> &codes, Verdict &v) {
  Checker c{v};
  const std::string exit = "exit " + std::to_string(f.status);
  c.Require(Has(f.text, message), exit + " without '" + message + "'");
  c.Require(!Has(f.text, "upgrade success") && !Has(f.text, "upgrade Fail"),
            exit + " with an update verdict printed");
  c.Require(f.erases == 0 && f.flashUntouched, exit + " with the flash changed");
  c.Require(f.ec == std::vector<uint8_t>{0x8B}, exit + " with EC bytes " + Bytes(f.ec));
  c.Require(f.statusCodes == codes && f.cmosStatus == 0xF9,
            exit + " with CMOS 0x79 writes " + Bytes(f.statusCodes));
  c.Require(SameVersion(f.cmosVersion, onboard), exit + " with CMOS version " +
                                                     VersionText(f.cmosVersion) + ", printed " +
                                                     VersionText(onboard));
  // The sweep starts with no backup, and neither stop reaches the store.
  c.Require(f.backup == Backup::None, exit + " with a backup stored");
}

} // namespace

Verdict Judge(const Reference &reference, const Fault & /*fault*/, const RunFacts &facts) {
  Verdict v;
  Checker c{v};
  v.struck = facts.struck;
  c.Require(facts.struck, "the fault never met its transaction");
  c.Require(facts.poolBalanced, "pool not balanced");
  FirmwareVersion onboard{};
  bool printed = PrintedOnboard(facts.text, &onboard);
  c.Require(printed, "no 'flash from [ .. ]' line");
  switch (facts.status) {
  case 0:
    v.outcome = Outcome::Success;
    CheckSuccess(reference, facts, v);
    break;
  case 248:
    v.outcome = Outcome::Failure;
    CheckFailure(facts, onboard, v);
    break;
  case 254:
    v.outcome = Outcome::NotErased;
    CheckStoppedBeforeErase(facts, onboard, "flash not erased", {0xF2, 0xF9}, v);
    break;
  case 255:
    v.outcome = Outcome::ChipIdFailure;
    CheckStoppedBeforeErase(facts, onboard, "Read chipid fail", {0xF9}, v);
    break;
  default:
    v.outcome = Outcome::Other;
    c.Require(false, "exit status " + std::to_string(facts.status));
    break;
  }
  if (facts.status != 0)
    CheckRetry(facts, v);
  return v;
}

} // namespace sweep

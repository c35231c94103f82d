#include "console/status_names.h"

namespace {

const CHAR16 *const kWarningNames[] = {
    u"Success",
    u"Warning Unknown Glyph",
    u"Warning Delete Failure",
    u"Warning Write Failure",
    u"Warning Buffer Too Small",
    u"Warning Stale Data",
};

// Indexed by the error code without its top bit, from 1.
const CHAR16 *const kErrorNames[] = {
    u"Load Error",           u"Invalid Parameter",  u"Unsupported",
    u"Bad Buffer Size",      u"Buffer Too Small",   u"Not Ready",
    u"Device Error",         u"Write Protected",    u"Out of Resources",
    u"Volume Corrupt",       u"Volume Full",        u"No Media",
    u"Media changed",        u"Not Found",          u"Access Denied",
    u"No Response",          u"No mapping",         u"Time out",
    u"Not started",          u"Already started",    u"Aborted",
    u"ICMP Error",           u"TFTP Error",         u"Protocol Error",
    u"Incompatible Version", u"Security Violation", u"CRC Error",
    u"End of Media",         u"Reserved (29)",      u"Reserved (30)",
    u"End of File",          u"Invalid Language",   u"Compromised Data",
};
static_assert(sizeof(kWarningNames) / sizeof(kWarningNames[0]) == 6);
static_assert(sizeof(kErrorNames) / sizeof(kErrorNames[0]) == 33);

} // namespace

const CHAR16 *StatusName(EFI_STATUS status) {
  if (EfiIsError(status)) {
    EFI_STATUS code = status & ~kEfiErrorBit;
    if (code >= 1 && code <= 33)
      return kErrorNames[code - 1];
    return nullptr;
  }
  if (status <= 5)
    return kWarningNames[status];
  return nullptr;
}

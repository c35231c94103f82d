// Text between the tests' UTF-8 and UEFI's UCS-2.
#pragma once

#include <string>

namespace sim {

// Invalid sequences become U+FFFD, code points above 0xFFFF surrogate pairs.
std::u16string Utf8ToUcs2(const std::string &text);
// Non-ASCII characters show as '?'.
std::string Narrow(const std::u16string &text);

} // namespace sim

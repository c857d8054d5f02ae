// The one text-to-number conversion of edits, the remote port and the remote switching command.
#pragma once

#include <cstdint>
#include <string_view>

namespace tavoxa {

// Signed 32-bit value of a text; never fails. Leading blanks are skipped; then a sign and
// decimal digits, or "$", "x", "X", "0x", "0X" and hexadecimal digits, or decimal digits.
// Reading stops at the first non-digit or before a digit that would pass 214748364
// (0x0FFFFFFF in hex). Only a text read to its end keeps a "-": -12 gives -12, "-12a" 12.
int32_t TextToInt(std::string_view text);

// Whether TextToInt finds a digit where it looks for one (the remote ignores messages without).
bool TextHasNumber(std::string_view text);

}  // namespace tavoxa

// Real numbers as text: the "%.7g" / "%.16g" forms with a three-digit exponent.
#pragma once

#include <cstddef>

namespace tarvel {

// Longest text format_real can produce: a sign blank or minus, digits + 7
// characters of number, and a terminator, for up to 17 digits.
inline constexpr std::size_t kRealTextCapacity = 32;

// Writes `value` with `digits` (1..17) significant digits in the printf "%g"
// form, "." as decimal point whatever the locale, the exponent widened to at
// least three digits, infinities as "inf"/"-inf" and every NaN as "nan"; with
// `sign_blank`, one blank before a text that does not start with "-". Fills
// `out` (at least kRealTextCapacity bytes, not terminated) and returns the
// length. Never allocates.
std::size_t format_real(double value, int digits, bool sign_blank, char* out);

}  // namespace tarvel

// Real numbers as text: the "%.7g" / "%.16g" forms with a three-digit exponent.
#pragma once

#include <cstddef>

namespace tarvel {

// The room format_real needs at `out`: the text is at most 25 bytes (a sign
// blank or minus and digits + 7 characters for up to 17 digits), and the
// writer uses fixed-size copies that may scribble past the text's end.
inline constexpr std::size_t kRealTextCapacity = 48;

// The significant digits of a single-precision and a double-precision item.
inline constexpr int kSingleDigits = 7;
inline constexpr int kDoubleDigits = 16;

// Writes `value` with `digits` (1..17) significant digits in the printf "%g"
// form, "." as decimal point whatever the locale, the exponent widened to at
// least three digits, infinities as "inf"/"-inf" and every NaN as "nan"; with
// `sign_blank`, one blank before a text that does not start with "-". Fills
// `out` (at least kRealTextCapacity bytes, not terminated) and returns the
// length. Never allocates.
std::size_t format_real(double value, int digits, bool sign_blank, char* out);

// format_real(value, kSingleDigits, true, out) for a single-precision item
// and format_real(value, kDoubleDigits, true, out) for a double-precision
// one, with the common values taken the shortest way.
std::size_t format_single_item(float value, char* out);
std::size_t format_double_item(double value, char* out);

}  // namespace tarvel

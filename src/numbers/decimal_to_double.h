// The fast decimal-to-double path that both readings of a floating field
// share, the scanner's conversion and the plain field read straight from the
// input window: the digits collected into a 64-bit integer and a power of
// ten, then one correctly rounded operation.
#pragma once

#include <cstdint>

#include "numbers/powers_of_ten.h"

namespace tarvel {

// The digits of a decimal constant, [digits][.digits], as an integer and the
// power of ten that scales it.
struct DecimalDigits {
  std::uint64_t mantissa = 0;
  int exponent = 0;
  bool any_digit = false;  // before or after the point: a constant needs one
  bool point = false;
};

// Reads the digits of a decimal constant at `p`, up to the first byte that is
// neither a digit nor the first point or up to `end`, fills `digits` and
// moves `p` past them. False, with `p` somewhere in the digits and `digits`
// untouched, when more than nineteen significant digits would not fit 64
// bits; leading zeros are not counted, so a run of them is bounded only by
// `end`. Never allocates.
template <typename Byte>
inline bool read_decimal_digits(const Byte*& p, const Byte* end, DecimalDigits& digits) {
  constexpr int kMaxDigits = 19;
  DecimalDigits read;
  int count = 0;
  for (; p != end; ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    if (digit >= 10) {
      if (*p != '.' || read.point) break;
      read.point = true;
      continue;
    }
    read.any_digit = true;
    if (read.point) --read.exponent;
    if (read.mantissa == 0 && digit == 0) continue;
    if (++count > kMaxDigits) return false;
    read.mantissa = read.mantissa * 10 + digit;
  }
  digits = read;
  return true;
}

// The nearest double to mantissa * 10^exponent when the digits form an
// integer of at most 2^53 and the power is within 22 of zero: both are then
// exact doubles, so the one multiplication or division, correctly rounded by
// the hardware, is the correctly rounded value (Clinger's fast path). False,
// leaving `value` alone, for every other case; a zero mantissa is zero for
// any exponent.
[[gnu::always_inline]] inline bool exact_decimal_to_double(std::uint64_t mantissa, int exponent,
                                                           double& value) {
  if (mantissa == 0) {
    value = 0.0;
    return true;
  }
  if (mantissa > (std::uint64_t{1} << 53) || exponent < -kMaxExactDoublePower ||
      exponent > kMaxExactDoublePower) {
    return false;
  }
  const double digits = static_cast<double>(mantissa);
  value = exponent < 0 ? digits / kExactDoublePowersOfTen[-exponent]
                       : digits * kExactDoublePowersOfTen[exponent];
  return true;
}

}  // namespace tarvel

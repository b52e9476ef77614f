// The fast decimal-to-double path that both readings of a floating field
// share: the scanner's conversion and the plain field read straight from the
// input window.
#pragma once

#include <cstdint>

#include "numbers/powers_of_ten.h"

namespace tarvel {

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

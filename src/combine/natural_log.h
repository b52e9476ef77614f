// The natural logarithm of a float in extended precision, built only from the
// correctly rounded +, -, × and ÷ of the extended type, so that it gives the
// same bits on every platform where those operations do, whatever the C
// library's logl would give there.
//
// x = m·2^e with m in [√½, √2) (exact), and
//   ln x = e·ln 2 + ln m,  ln m = 2·atanh(s) = 2s + 2s³/3 + 2s⁵/5 + ...,
//   s = (m - 1)/(m + 1), |s| < 0.1716.
// Every rounding error that could reach the last bit is kept out of the sum:
//   - ln 2 is a double high part, whose product with any float exponent
//     (|e| < 2^8) fits 61 bits and is exact, plus a double low part;
//   - s is rounded once, and its rounding error s_rest = (m - 1 - s·(m + 1)) /
//     (m + 1) is recovered from the exact remainder (m has 24 bits, so the
//     remainder is formed exactly from s split into two 32-bit halves);
//   - e·ln2_high + 2s is summed without error (TwoSum), and only the small
//     terms, the series tail (below 1 % of the result) and the two low parts,
//     carry rounding errors of their own;
//   so the result is the exact sum rounded once, give or take a few hundredths
//   of a unit in the last place.
// Twelve terms of the series after 2s keep the truncation below 2^-70 of 2s.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

namespace tarvel::detail {

// ln 2 = kLn2High + kLn2Low to 106 bits.
inline constexpr double kLn2High = 0x1.62e42fefa39efp-1;
inline constexpr double kLn2Low = 0x1.abc9e3b39803fp-56;

// 1/3, 1/5, ..., each rounded once in E: the series' coefficients.
template <typename E, std::size_t... k>
std::array<E, sizeof...(k)> inverse_odds(std::index_sequence<k...>) {
  return {(E(1.0) / E(static_cast<double>(2 * k + 3)))...};
}

// ln x of a float x in the extended type E, accurate to a little over half a
// unit in the last place of E's 64-bit significand. E needs only construction
// from float and double and the correctly rounded +, -, × and ÷. x = ±0 gives
// -infinity, +infinity gives +infinity, NaN gives x itself, a negative x gives
// the positive quiet NaN without payload (as glibc's logl does, where the
// x87's own invalid result would be negative). Pure; no allocation.
template <typename E>
E natural_log(float x) {
  if (std::isnan(x)) return E(x);
  if (x < 0) return E(std::numeric_limits<float>::quiet_NaN());
  if (x == 0) return E(-std::numeric_limits<double>::infinity());
  if (std::isinf(x)) return E(x);

  int exponent = 0;
  float fraction = std::frexp(x, &exponent);  // exact, subnormals too
  if (fraction < 0.70710677f) {               // √½ rounded down; exact doubling
    fraction *= 2;
    --exponent;
  }
  const E one(1.0);
  const E two(2.0);
  const E m(fraction);
  const E numerator = m - one;  // exact: 24 bits
  const E denominator = m + one;
  const E s = numerator / denominator;

  // Veltkamp split of s into two halves of at most 32 bits, so that each
  // product with the 25-bit denominator is exact and the remainder of the
  // division (itself representable) comes out exactly.
  const E splitter(0x1p32 + 1);
  const E scaled = splitter * s;
  const E s_high = scaled - (scaled - s);
  const E s_low = s - s_high;
  const E remainder = (numerator - s_high * denominator) - s_low * denominator;
  const E s_rest = remainder / denominator;

  // 2s·(z/3 + z²/5 + ... + z¹²/25), z = s², by Horner from the smallest term,
  // plus the rounding error of s times the derivative 2/(1 - z) ≈ 2·(1 + z).
  static const std::array<E, 12> inverse_odd = inverse_odds<E>(std::make_index_sequence<12>{});
  const E z = s * s;
  E series = inverse_odd[11];
  for (int k = 10; k >= 0; --k) series = series * z + inverse_odd[k];
  const E tail = two * ((s * series + s_rest) * z + s_rest);

  const E e(static_cast<double>(exponent));
  const E large = e * E(kLn2High);  // exact
  const E lead = two * s;           // exact
  // TwoSum: sum + error == large + lead exactly.
  const E sum = large + lead;
  const E lead_part = sum - large;
  const E large_part = sum - lead_part;
  const E error = (large - large_part) + (lead - lead_part);
  return sum + (error + (e * E(kLn2Low) + tail));
}

}  // namespace tarvel::detail

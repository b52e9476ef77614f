// Signed integers of any size, for the few exact operations that turn exact
// sums into correctly rounded results: products, differences and quotients
// by the sample count, then one rounding to float.
#pragma once

#include <cstdint>
#include <vector>

#include "combine/exact_sum.h"

namespace tarvel {

class BigInteger {
 public:
  BigInteger() = default;
  explicit BigInteger(std::int64_t value);
  // The value of a normalised exact sum, in units of its lowest bit.
  static BigInteger of(const ExactSum& sum);
  // The value of a finite float in units of 2^-149 (the smallest subnormal).
  static BigInteger of_float(float value);

  bool is_zero() const { return digits_.empty(); }
  bool is_negative() const { return negative_; }

  BigInteger operator-() const;
  friend BigInteger operator+(const BigInteger& a, const BigInteger& b);
  friend BigInteger operator-(const BigInteger& a, const BigInteger& b) { return a + -b; }
  friend BigInteger operator*(const BigInteger& a, const BigInteger& b);
  BigInteger shifted_left(int bits) const;

  // Removes the zero digits below the lowest one that is not zero (value
  // divided by 2^(32·n)) and returns how many, n.
  int drop_low_zero_digits();

  // This value times 2^exponent divided by divisor^divisions (divisor >= 1),
  // correctly rounded to float: to nearest, ties to even, +-inf beyond the
  // float range, subnormal results as the format gives them. Zero gives +0.
  float to_float(int exponent, std::uint64_t divisor, int divisions) const;

 private:
  // The magnitude, least significant digit first, with no leading zeros.
  std::vector<std::uint32_t> digits_;
  bool negative_ = false;

  void trim();
  int bit_length() const;
  bool bit(int i) const;
  // Divides the magnitude by d in place; true when the remainder is not 0.
  bool divide_magnitude(std::uint64_t d);
  static int compare_magnitude(const BigInteger& a, const BigInteger& b);
};

// value · 2^exponent, exactly: the exact sums' values hold few significant
// digits far above their lowest unit, which the exponent keeps out of the
// arithmetic.
struct Dyadic {
  BigInteger value;
  int exponent = 0;

  // A normalised exact sum's value, or a finite float's.
  static Dyadic of(const ExactSum& sum);
  static Dyadic of(float value);

  friend Dyadic operator*(const Dyadic& a, const Dyadic& b) {
    return {a.value * b.value, a.exponent + b.exponent};
  }
  friend Dyadic operator+(const Dyadic& a, const Dyadic& b);
  friend Dyadic operator-(const Dyadic& a, const Dyadic& b) {
    return a + Dyadic{-b.value, b.exponent};
  }

  // Divided by divisor^divisions and correctly rounded to float.
  float to_float(std::uint64_t divisor, int divisions) const {
    return value.to_float(exponent, divisor, divisions);
  }
};

}  // namespace tarvel

// An exact sum of doubles that are multiples of 2^-320: a fixed-point number
// of 21 digits of 32 bits, each digit kept in a 64-bit limb so that additions
// carry nothing until normalize(). The sums over samples (floats, multiples of
// 2^-149, and products of two floats, multiples of 2^-298, in blocks of
// 2^10 at most) stay far inside its range: their magnitude is below 2^340
// for any count up to 2^63.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "numbers/wide_unsigned.h"

namespace tarvel {

class ExactSum {
 public:
  static constexpr int kDigits = 21;
  // The weight of digit 0's lowest bit is 2^kLowExponent.
  static constexpr int kLowExponent = -320;
  // How many add() calls a limb takes, from a normalised state, before it
  // could overflow: each adds less than 2^32 to it.
  static constexpr std::int64_t kAddsBeforeNormalize = std::int64_t{1} << 30;

  // Adds d, finite and a multiple of 2^-320, exactly.
  void add(double d) {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    std::uint64_t significand = bits & ((std::uint64_t{1} << 52) - 1);
    int exponent = -1074;
    if (biased != 0) {
      significand |= std::uint64_t{1} << 52;
      exponent = biased - 1075;
    }
    if (significand == 0) return;
    int place = exponent - kLowExponent;
    if (place < 0) {
      // Only zero bits fall below the lowest digit.
      significand >>= -place;
      place = 0;
    }
    const WideUnsigned shifted = static_cast<WideUnsigned>(significand) << (place & 31);
    const int digit = place >> 5;
    const auto low = static_cast<std::int64_t>(shifted & 0xFFFFFFFFu);
    const auto middle = static_cast<std::int64_t>((shifted >> 32) & 0xFFFFFFFFu);
    const auto high = static_cast<std::int64_t>(shifted >> 64);
    if ((bits >> 63) != 0) {
      limbs_[digit] -= low;
      limbs_[digit + 1] -= middle;
      limbs_[digit + 2] -= high;
    } else {
      limbs_[digit] += low;
      limbs_[digit + 1] += middle;
      limbs_[digit + 2] += high;
    }
  }

  // Adds another normalised sum; this one must be normalised too. The result
  // is normalised.
  void add(const ExactSum& other) {
    for (int i = 0; i < kDigits; ++i) limbs_[i] += other.limbs_[i];
    normalize();
  }

  // Carries every limb into the next, leaving digits 0..kDigits-2 in
  // [0, 2^32) and the sign and the rest in the top limb: one form per value.
  void normalize() {
    std::int64_t carry = 0;
    for (int i = 0; i + 1 < kDigits; ++i) {
      const std::int64_t value = limbs_[i] + carry;
      limbs_[i] = value & 0xFFFFFFFF;
      carry = value >> 32;  // arithmetic: floor division by 2^32
    }
    limbs_[kDigits - 1] += carry;
  }

  bool is_zero() const {
    for (std::int64_t limb : limbs_) {
      if (limb != 0) return false;
    }
    return true;
  }

  // Limb i of the normalised form: digit i (0 <= limb < 2^32) below the top,
  // the signed top limb at kDigits - 1.
  std::int64_t limb(int i) const { return limbs_[i]; }
  void set_limb(int i, std::int64_t value) { limbs_[i] = value; }

 private:
  std::array<std::int64_t, kDigits> limbs_{};
};

}  // namespace tarvel

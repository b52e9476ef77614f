// An extended-precision binary floating-point type built on 64- and 128-bit
// integers, for processors and compilers whose long double is not the x87
// extended format. It gives the x87's bits for everything the combine
// formulas do: a 64-bit significand with its integer bit explicit, +, -, *,
// / and the square root correctly rounded to nearest with ties to even,
// exact conversions from float, double and integers, and one correctly
// rounded conversion to float or double (subnormal results and overflow to
// infinity included). Signed zeros, infinities and NaN behave as on the x87:
// an invalid operation gives the x87's default NaN (negative, quiet, no
// payload), and a NaN operand is passed on by the x87's rules.
//
// The exponent is a 32-bit integer kept within +-2^20, far wider than the
// x87's +-16384, so no value the formulas can meet (squares and quotients of
// squares of doubles at most) overflows or underflows here, where the x87
// does not either. Beyond 2^(2^20) a result becomes an infinity, below
// 2^-(2^20) a zero.
#pragma once

#include <bit>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "numbers/wide_unsigned.h"

namespace tarvel {

class PortableExtended {
 public:
  // +0.
  constexpr PortableExtended() = default;

  // Exact conversions, implicit as those of long double are.
  PortableExtended(float value) {  // NOLINT(google-explicit-constructor)
    const auto bits = std::bit_cast<std::uint32_t>(value);
    set_from_binary<24, 127>(bits >> 31 != 0, (bits >> 23) & 0xFF, bits & 0x7FFFFF);
  }
  PortableExtended(double value) {  // NOLINT(google-explicit-constructor)
    const auto bits = std::bit_cast<std::uint64_t>(value);
    set_from_binary<53, 1023>(bits >> 63 != 0, static_cast<std::uint32_t>(bits >> 52) & 0x7FF,
                              bits & ((std::uint64_t{1} << 52) - 1));
  }
  template <std::integral Integer>
  requires(!std::same_as<Integer, bool>)
      PortableExtended(Integer value) {  // NOLINT(google-explicit-constructor)
    if (value == 0) return;
    if constexpr (std::is_signed_v<Integer>) negative_ = value < 0;
    const auto wide = static_cast<std::uint64_t>(value);
    const std::uint64_t size = negative_ ? std::uint64_t{0} - wide : wide;
    const int zeros = std::countl_zero(size);
    significand_ = size << zeros;
    exponent_ = 63 - zeros;
  }

  // The one rounding to single or double precision.
  explicit operator float() const {
    return std::bit_cast<float>(round_to_binary<std::uint32_t, 24, 127>());
  }
  explicit operator double() const {
    return std::bit_cast<double>(round_to_binary<std::uint64_t, 53, 1023>());
  }

  PortableExtended operator-() const {
    PortableExtended result = *this;
    result.negative_ = !negative_;
    return result;
  }

  friend PortableExtended operator+(const PortableExtended& a, const PortableExtended& b) {
    if (a.is_special() || b.is_special()) return special_sum(a, b, b.negative_);
    return sum(a, b, b.negative_);
  }
  friend PortableExtended operator-(const PortableExtended& a, const PortableExtended& b) {
    // A NaN b is passed on as it is, sign included, as the x87 does.
    if (a.is_special() || b.is_special()) return special_sum(a, b, !b.negative_);
    return sum(a, b, !b.negative_);
  }
  friend PortableExtended operator*(const PortableExtended& a, const PortableExtended& b) {
    return product(a, b);
  }
  friend PortableExtended operator/(const PortableExtended& a, const PortableExtended& b) {
    return quotient(a, b);
  }
  friend PortableExtended sqrt(const PortableExtended& x) { return square_root(x); }

  // IEEE comparisons: NaN is unordered, -0 equals +0.
  friend bool operator==(const PortableExtended& a, const PortableExtended& b) {
    if (a.is_nan() || b.is_nan()) return false;
    if (a.is_zero() && b.is_zero()) return true;
    return a.negative_ == b.negative_ && a.exponent_ == b.exponent_ &&
           a.significand_ == b.significand_;
  }
  friend bool operator<(const PortableExtended& a, const PortableExtended& b) {
    if (a.is_nan() || b.is_nan() || (a.is_zero() && b.is_zero())) return false;
    if (a.negative_ != b.negative_) return a.negative_;
    return a.negative_ ? magnitude_less(b, a) : magnitude_less(a, b);
  }
  friend bool operator>(const PortableExtended& a, const PortableExtended& b) { return b < a; }
  friend bool operator<=(const PortableExtended& a, const PortableExtended& b) {
    return a < b || a == b;
  }
  friend bool operator>=(const PortableExtended& a, const PortableExtended& b) { return b <= a; }

  // The exponent of a finite non-zero value's leading bit.
  std::int32_t binary_exponent() const { return exponent_; }

  bool is_nan() const { return exponent_ == kSpecialExponent && significand_ != kIntegerBit; }
  bool is_infinite() const { return is_special() && significand_ == kIntegerBit; }
  bool is_zero() const { return significand_ == 0; }
  bool is_negative() const { return negative_; }

  // The x87 memory image of the value: sign and biased exponent in 16 bits,
  // the 64-bit significand with its integer bit. For tests that compare with
  // the hardware; the value must lie within the x87's normal range.
  std::uint16_t x87_sign_exponent() const {
    const int biased = is_special() ? 0x7FFF : is_zero() ? 0 : exponent_ + kX87Bias;
    return static_cast<std::uint16_t>((negative_ ? 0x8000 : 0) | biased);
  }
  std::uint64_t x87_significand() const { return significand_; }
  // The value of an x87 image, denormals included.
  static PortableExtended from_x87(std::uint16_t sign_exponent, std::uint64_t significand) {
    PortableExtended result;
    result.negative_ = (sign_exponent & 0x8000) != 0;
    const int biased = sign_exponent & 0x7FFF;
    if (biased == 0x7FFF) {
      result.exponent_ = kSpecialExponent;
      result.significand_ = significand | kIntegerBit;
    } else if (significand != 0) {
      const int zeros = std::countl_zero(significand);
      result.significand_ = significand << zeros;
      result.exponent_ = (biased == 0 ? 1 : biased) - kX87Bias - zeros;
    }
    return result;
  }

 private:
  static constexpr std::uint64_t kIntegerBit = std::uint64_t{1} << 63;
  static constexpr std::uint64_t kQuietBit = std::uint64_t{1} << 62;
  static constexpr std::int32_t kZeroExponent = std::numeric_limits<std::int32_t>::min();
  static constexpr std::int32_t kSpecialExponent = std::numeric_limits<std::int32_t>::max();
  static constexpr std::int32_t kExponentLimit = std::int32_t{1} << 20;
  static constexpr int kX87Bias = 16383;

  bool is_special() const { return exponent_ == kSpecialExponent; }

  // Zeros, then finite values, then infinities, each ordered by
  // (exponent, significand): the magnitudes in order.
  static bool magnitude_less(const PortableExtended& a, const PortableExtended& b) {
    return a.exponent_ < b.exponent_ ||
           (a.exponent_ == b.exponent_ && a.significand_ < b.significand_);
  }

  static PortableExtended zero(bool negative) {
    PortableExtended result;
    result.negative_ = negative;
    return result;
  }
  static PortableExtended infinity(bool negative) {
    PortableExtended result;
    result.negative_ = negative;
    result.exponent_ = kSpecialExponent;
    result.significand_ = kIntegerBit;
    return result;
  }
  // The x87's answer to an invalid operation (inf - inf, 0 * inf, 0 / 0,
  // inf / inf, the square root of a negative number).
  static PortableExtended default_nan() {
    PortableExtended result = infinity(true);
    result.significand_ |= kQuietBit;
    return result;
  }

  // A NaN operand passed on as the x87 passes it: a quiet NaN before a
  // signalling one, else the larger significand, else the positive one;
  // made quiet.
  static PortableExtended passed_nan(const PortableExtended& a, const PortableExtended& b) {
    PortableExtended result;
    if (a.is_nan() && b.is_nan()) {
      const bool a_quiet = (a.significand_ & kQuietBit) != 0;
      const bool b_quiet = (b.significand_ & kQuietBit) != 0;
      if (a_quiet != b_quiet) {
        result = a_quiet ? a : b;
      } else if (a.significand_ != b.significand_) {
        result = a.significand_ > b.significand_ ? a : b;
      } else {
        result = a.negative_ ? b : a;
      }
    } else {
      result = a.is_nan() ? a : b;
    }
    result.significand_ |= kQuietBit;
    return result;
  }

  template <int kBits, int kBias>
  void set_from_binary(bool negative, std::uint32_t biased, std::uint64_t fraction) {
    negative_ = negative;
    constexpr int kFractionBits = kBits - 1;
    constexpr std::uint32_t kAllOnes = 2 * kBias + 1;
    if (biased == kAllOnes) {
      exponent_ = kSpecialExponent;
      significand_ = kIntegerBit | (fraction << (64 - kBits));
      if (fraction != 0) significand_ |= kQuietBit;  // a signalling NaN is made quiet
    } else if (biased != 0) {
      exponent_ = static_cast<std::int32_t>(biased) - kBias;
      significand_ = kIntegerBit | (fraction << (64 - kBits));
    } else if (fraction != 0) {
      const int zeros = std::countl_zero(fraction);
      significand_ = fraction << zeros;
      exponent_ = 63 - (kBias - 1 + kFractionBits) - zeros;
    }
  }

  // The bits of the nearest binary format value with a kBits-bit significand
  // (ties to even), with subnormal results and overflow to infinity; a NaN
  // keeps its sign and the leading bits of its payload.
  template <class Bits, int kBits, int kBias>
  Bits round_to_binary() const {
    constexpr int kFractionBits = kBits - 1;
    constexpr int kMinExponent = 1 - kBias;
    constexpr Bits kInfinityBits = Bits{2 * kBias + 1} << kFractionBits;
    const Bits sign = negative_ ? Bits{1} << (sizeof(Bits) * 8 - 1) : 0;
    if (is_special()) {
      if (is_infinite()) return sign | kInfinityBits;
      const auto payload = static_cast<Bits>((significand_ << 1) >> (64 - kFractionBits));
      return sign | kInfinityBits | payload | (Bits{1} << (kFractionBits - 1));
    }
    if (is_zero() || exponent_ < kMinExponent - kBits) return sign;
    if (exponent_ > kBias) return sign | kInfinityBits;
    int shift = 64 - kBits;
    const bool subnormal = exponent_ < kMinExponent;
    if (subnormal) shift += kMinExponent - exponent_;
    Bits kept;
    if (shift == 64) {
      // Between half the smallest subnormal and the smallest itself.
      kept = significand_ > kIntegerBit ? 1 : 0;
    } else {
      kept = static_cast<Bits>(significand_ >> shift);
      const std::uint64_t rest = significand_ & ((std::uint64_t{1} << shift) - 1);
      const std::uint64_t half = std::uint64_t{1} << (shift - 1);
      if (rest > half || (rest == half && (kept & 1) != 0)) ++kept;
    }
    // A carry out of the significand moves into the exponent field, up to
    // the smallest normal number or the infinity.
    const Bits bits =
        subnormal ? kept : (static_cast<Bits>(exponent_ + kBias - 1) << kFractionBits) + kept;
    return sign | (bits < kInfinityBits ? bits : kInfinityBits);
  }

  // The value wide * 2^(exponent - 127), wide's leading bit at bit 127,
  // rounded to 64 bits.
  static PortableExtended rounded(bool negative, std::int32_t exponent, WideUnsigned wide) {
    auto significand = static_cast<std::uint64_t>(wide >> 64);
    const auto rest = static_cast<std::uint64_t>(wide);
    if (rest > kIntegerBit || (rest == kIntegerBit && (significand & 1) != 0)) {
      if (++significand == 0) {
        significand = kIntegerBit;
        ++exponent;
      }
    }
    if (exponent > kExponentLimit) return infinity(negative);
    if (exponent < -kExponentLimit) return zero(negative);
    PortableExtended result;
    result.negative_ = negative;
    result.exponent_ = exponent;
    result.significand_ = significand;
    return result;
  }

  static int leading_zeros(WideUnsigned value) {
    const auto high = static_cast<std::uint64_t>(value >> 64);
    return high != 0 ? std::countl_zero(high)
                     : 64 + std::countl_zero(static_cast<std::uint64_t>(value));
  }

  // a + b with b's sign given; either is an infinity or NaN.
  static PortableExtended special_sum(const PortableExtended& a, const PortableExtended& b,
                                      bool b_negative) {
    if (a.is_nan() || b.is_nan()) return passed_nan(a, b);
    if (a.is_infinite() && b.is_infinite() && a.negative_ != b_negative) return default_nan();
    return a.is_infinite() ? a : infinity(b_negative);
  }

  // a + b with b's sign given, both finite.
  static PortableExtended sum(PortableExtended a, PortableExtended b, bool b_negative) {
    b.negative_ = b_negative;
    if (b.is_zero()) return a.is_zero() ? zero(a.negative_ && b.negative_) : a;
    if (a.is_zero()) return b;
    if (magnitude_less(a, b)) std::swap(a, b);
    // a's significand at bits 125..62; b's below it, shifted right by the
    // difference of the exponents, with every bit shifted out kept as one
    // sticky bit at bit 0, far below the rounding position.
    const std::int64_t distance = std::int64_t{a.exponent_} - b.exponent_;
    const WideUnsigned high = WideUnsigned{a.significand_} << 62;
    WideUnsigned low = WideUnsigned{b.significand_} << 62;
    if (distance >= 126) {
      low = 1;
    } else if (distance > 0) {
      const bool sticky = (low & ((WideUnsigned{1} << distance) - 1)) != 0;
      low = (low >> distance) | WideUnsigned{sticky};
    }
    const WideUnsigned total = a.negative_ == b.negative_ ? high + low : high - low;
    if (total == 0) return zero(false);  // x - x is +0 when rounding to nearest
    const int zeros = leading_zeros(total);
    return rounded(a.negative_, a.exponent_ + 2 - zeros, total << zeros);
  }

  static PortableExtended product(const PortableExtended& a, const PortableExtended& b) {
    const bool negative = a.negative_ != b.negative_;
    if (a.is_special() || b.is_special()) {
      if (a.is_nan() || b.is_nan()) return passed_nan(a, b);
      if (a.is_zero() || b.is_zero()) return default_nan();
      return infinity(negative);
    }
    if (a.is_zero() || b.is_zero()) return zero(negative);
    WideUnsigned wide = WideUnsigned{a.significand_} * b.significand_;
    std::int32_t exponent = a.exponent_ + b.exponent_ + 1;
    if ((wide >> 127) == 0) {
      wide <<= 1;
      --exponent;
    }
    return rounded(negative, exponent, wide);
  }

  static PortableExtended quotient(const PortableExtended& a, const PortableExtended& b) {
    const bool negative = a.negative_ != b.negative_;
    if (a.is_special() || b.is_special()) {
      if (a.is_nan() || b.is_nan()) return passed_nan(a, b);
      if (a.is_infinite() && b.is_infinite()) return default_nan();
      return a.is_infinite() ? infinity(negative) : zero(negative);
    }
    if (b.is_zero()) return a.is_zero() ? default_nan() : infinity(negative);
    if (a.is_zero()) return zero(negative);
    const WideUnsigned numerator = WideUnsigned{a.significand_} << 64;
    const WideUnsigned q = numerator / b.significand_;
    const auto remainder = static_cast<std::uint64_t>(numerator - q * b.significand_);
    if ((q >> 64) != 0) {
      // a's significand >= b's: 65 quotient bits, the last one the rounding
      // bit, the remainder sticky.
      return rounded(negative, a.exponent_ - b.exponent_, (q << 63) | WideUnsigned{remainder != 0});
    }
    // 64 quotient bits; one more from the remainder.
    const WideUnsigned twice = WideUnsigned{remainder} << 1;
    const bool next_bit = twice >= b.significand_;
    const bool sticky = twice != (next_bit ? WideUnsigned{b.significand_} : 0);
    return rounded(negative, a.exponent_ - b.exponent_ - 1,
                   (q << 64) | (WideUnsigned{next_bit} << 63) | WideUnsigned{sticky});
  }

  static PortableExtended square_root(const PortableExtended& x) {
    if (x.is_nan()) return passed_nan(x, x);
    if (x.is_zero()) return x;
    if (x.negative_) return default_nan();
    if (x.is_infinite()) return x;
    // An even exponent for the root: the radicand's significand at bits
    // 126..63 or 127..64, so the integer root has its leading bit at 63.
    const WideUnsigned radicand = WideUnsigned{x.significand_} << (63 + (x.exponent_ & 1));
    std::uint64_t root = integer_square_root(radicand);
    const WideUnsigned rest = radicand - WideUnsigned{root} * root;
    // No root is a midpoint ((r + 1/2)^2 is no integer): round up when the
    // radicand exceeds (r + 1/2)^2, that is when rest > r.
    const WideUnsigned below =
        rest > root ? WideUnsigned{kIntegerBit} + 1 : WideUnsigned{rest != 0};
    return rounded(false, x.exponent_ >> 1, (WideUnsigned{root} << 64) | below);
  }

  // floor(sqrt(n)) for 2^126 <= n < 2^128: one Newton step from the double
  // estimate, then the last unit set right.
  static std::uint64_t integer_square_root(WideUnsigned n) {
    const double estimate = std::sqrt(static_cast<double>(n));
    std::uint64_t root =
        estimate >= 0x1p64 ? ~std::uint64_t{0} : static_cast<std::uint64_t>(estimate);
    root = static_cast<std::uint64_t>((WideUnsigned{root} + n / root) >> 1);
    while (WideUnsigned{root} * root > n) --root;
    while (n - WideUnsigned{root} * root > 2 * WideUnsigned{root}) ++root;
    return root;
  }

  std::uint64_t significand_ = 0;          // integer bit at bit 63; 0 for zero
  std::int32_t exponent_ = kZeroExponent;  // value = significand * 2^(exponent - 63)
  bool negative_ = false;
};

}  // namespace tarvel

#include "combine/big_integer.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "numbers/wide_unsigned.h"

namespace tarvel {

BigInteger::BigInteger(std::int64_t value) {
  negative_ = value < 0;
  std::uint64_t magnitude =
      negative_ ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
  while (magnitude != 0) {
    digits_.push_back(static_cast<std::uint32_t>(magnitude));
    magnitude >>= 32;
  }
}

BigInteger BigInteger::of(const ExactSum& sum) {
  // The two's complement of the sum in digits of 32 bits, the top limb's
  // two digits sign-extended, then negated when negative.
  constexpr int kLow = ExactSum::kDigits - 1;
  const std::int64_t top = sum.limb(kLow);
  BigInteger result;
  result.digits_.resize(kLow + 2);
  for (int i = 0; i < kLow; ++i) result.digits_[i] = static_cast<std::uint32_t>(sum.limb(i));
  result.digits_[kLow] = static_cast<std::uint32_t>(top);
  result.digits_[kLow + 1] = static_cast<std::uint32_t>(static_cast<std::uint64_t>(top) >> 32);
  if (top < 0) {
    std::uint64_t carry = 1;
    for (std::uint32_t& digit : result.digits_) {
      const std::uint64_t negated = static_cast<std::uint64_t>(~digit) + carry;
      digit = static_cast<std::uint32_t>(negated);
      carry = negated >> 32;
    }
    result.negative_ = true;
  }
  result.trim();
  return result;
}

BigInteger BigInteger::of_float(float value) {
  const auto bits = std::bit_cast<std::uint32_t>(value);
  const int biased = static_cast<int>((bits >> 23) & 0xFF);
  std::int64_t significand = bits & 0x7FFFFF;
  int shift = 0;
  if (biased != 0) {
    significand |= 0x800000;
    shift = biased - 1;
  }
  BigInteger result =
      BigInteger((bits >> 31) != 0 ? -significand : significand).shifted_left(shift);
  return result;
}

void BigInteger::trim() {
  while (!digits_.empty() && digits_.back() == 0) digits_.pop_back();
  if (digits_.empty()) negative_ = false;
}

int BigInteger::bit_length() const {
  if (digits_.empty()) return 0;
  return 32 * static_cast<int>(digits_.size() - 1) + std::bit_width(digits_.back());
}

bool BigInteger::bit(int i) const {
  const auto digit = static_cast<std::size_t>(i / 32);
  return digit < digits_.size() && ((digits_[digit] >> (i % 32)) & 1) != 0;
}

BigInteger BigInteger::operator-() const {
  BigInteger result = *this;
  if (!result.digits_.empty()) result.negative_ = !negative_;
  return result;
}

int BigInteger::compare_magnitude(const BigInteger& a, const BigInteger& b) {
  if (a.digits_.size() != b.digits_.size()) return a.digits_.size() < b.digits_.size() ? -1 : 1;
  for (std::size_t i = a.digits_.size(); i-- > 0;) {
    if (a.digits_[i] != b.digits_[i]) return a.digits_[i] < b.digits_[i] ? -1 : 1;
  }
  return 0;
}

BigInteger operator+(const BigInteger& a, const BigInteger& b) {
  BigInteger result;
  if (a.negative_ == b.negative_) {
    const std::size_t size = std::max(a.digits_.size(), b.digits_.size());
    result.digits_.resize(size + 1);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint64_t sum = carry + (i < a.digits_.size() ? a.digits_[i] : 0) +
                                (i < b.digits_.size() ? b.digits_[i] : 0);
      result.digits_[i] = static_cast<std::uint32_t>(sum);
      carry = sum >> 32;
    }
    result.digits_[size] = static_cast<std::uint32_t>(carry);
    result.negative_ = a.negative_;
  } else {
    // The smaller magnitude from the larger, with the larger's sign.
    const bool a_larger = BigInteger::compare_magnitude(a, b) >= 0;
    const BigInteger& big = a_larger ? a : b;
    const BigInteger& small = a_larger ? b : a;
    result.digits_.resize(big.digits_.size());
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < big.digits_.size(); ++i) {
      std::int64_t difference = static_cast<std::int64_t>(big.digits_[i]) - borrow -
                                (i < small.digits_.size() ? small.digits_[i] : 0);
      borrow = difference < 0 ? 1 : 0;
      result.digits_[i] = static_cast<std::uint32_t>(difference + (borrow << 32));
    }
    result.negative_ = big.negative_;
  }
  result.trim();
  return result;
}

BigInteger operator*(const BigInteger& a, const BigInteger& b) {
  BigInteger result;
  if (a.digits_.empty() || b.digits_.empty()) return result;
  result.digits_.assign(a.digits_.size() + b.digits_.size(), 0);
  for (std::size_t i = 0; i < a.digits_.size(); ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < b.digits_.size(); ++j) {
      const std::uint64_t sum =
          static_cast<std::uint64_t>(a.digits_[i]) * b.digits_[j] + result.digits_[i + j] + carry;
      result.digits_[i + j] = static_cast<std::uint32_t>(sum);
      carry = sum >> 32;
    }
    result.digits_[i + b.digits_.size()] = static_cast<std::uint32_t>(carry);
  }
  result.negative_ = a.negative_ != b.negative_;
  result.trim();
  return result;
}

BigInteger BigInteger::shifted_left(int bits) const {
  if (digits_.empty() || bits == 0) return *this;
  BigInteger result;
  const auto whole = static_cast<std::size_t>(bits / 32);
  const int part = bits % 32;
  result.digits_.assign(whole + digits_.size() + 1, 0);
  for (std::size_t i = 0; i < digits_.size(); ++i) {
    const std::uint64_t moved = static_cast<std::uint64_t>(digits_[i]) << part;
    result.digits_[whole + i] |= static_cast<std::uint32_t>(moved);
    result.digits_[whole + i + 1] |= static_cast<std::uint32_t>(moved >> 32);
  }
  result.negative_ = negative_;
  result.trim();
  return result;
}

bool BigInteger::divide_magnitude(std::uint64_t d) {
  WideUnsigned remainder = 0;
  for (std::size_t i = digits_.size(); i-- > 0;) {
    const WideUnsigned value = (remainder << 32) | digits_[i];
    digits_[i] = static_cast<std::uint32_t>(value / d);
    remainder = value % d;
  }
  const bool negative = negative_;
  trim();
  if (!digits_.empty()) negative_ = negative;
  return remainder != 0;
}

int BigInteger::drop_low_zero_digits() {
  std::size_t zeros = 0;
  while (zeros < digits_.size() && digits_[zeros] == 0) ++zeros;
  digits_.erase(digits_.begin(), digits_.begin() + static_cast<std::ptrdiff_t>(zeros));
  trim();
  return static_cast<int>(zeros);
}

Dyadic Dyadic::of(const ExactSum& sum) {
  Dyadic d{BigInteger::of(sum), ExactSum::kLowExponent};
  d.exponent += 32 * d.value.drop_low_zero_digits();
  return d;
}

Dyadic Dyadic::of(float value) {
  // In units of 2^-149, then the zero digits below dropped.
  Dyadic d{BigInteger::of_float(value), -149};
  d.exponent += 32 * d.value.drop_low_zero_digits();
  return d;
}

Dyadic operator+(const Dyadic& a, const Dyadic& b) {
  if (a.value.is_zero()) return b;
  if (b.value.is_zero()) return a;
  if (a.exponent >= b.exponent)
    return {a.value.shifted_left(a.exponent - b.exponent) + b.value, b.exponent};
  return {a.value + b.value.shifted_left(b.exponent - a.exponent), a.exponent};
}

float BigInteger::to_float(int exponent, std::uint64_t divisor, int divisions) const {
  if (digits_.empty()) return 0.0f;
  // Enough bits below the float's 24 that the quotient has 26 at least,
  // whatever the divisor: the rounding then needs only the quotient's bits
  // and whether anything was left over.
  const int divisor_bits = divisions * std::bit_width(divisor);
  const int extra = std::max(0, 27 + divisor_bits - bit_length());
  BigInteger quotient = shifted_left(extra);
  quotient.negative_ = false;
  bool inexact = false;
  for (int i = 0; i < divisions; ++i) inexact = quotient.divide_magnitude(divisor) || inexact;
  // The value is (quotient + a fraction, not 0 when inexact) * 2^scale.
  const int scale = exponent - extra;
  const int length = quotient.bit_length();
  const int leading = length - 1 + scale;  // the leading bit's exponent
  if (leading > 127) return negative_ ? -INFINITY : INFINITY;
  // The float keeps 24 bits, fewer below the normal range.
  const int kept = std::min(24, leading + 150);
  const int dropped = length - kept;  // at least 2
  std::uint64_t significand = 0;
  for (int i = std::max(0, dropped); i < length; ++i) {
    significand |= static_cast<std::uint64_t>(quotient.bit(i)) << (i - dropped);
  }
  // Round to nearest, ties to even: the first dropped bit is the half, the
  // rest and the remainder break a tie.
  const bool half = dropped - 1 < length && quotient.bit(dropped - 1);
  bool rest = inexact;
  for (int i = 0; i < std::min(dropped - 1, length) && !rest; ++i) rest = quotient.bit(i);
  if (half && (rest || (significand & 1) != 0)) ++significand;
  const float magnitude = std::ldexp(static_cast<float>(significand), dropped + scale);
  return negative_ ? -magnitude : magnitude;
}

}  // namespace tarvel

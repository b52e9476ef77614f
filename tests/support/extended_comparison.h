// Operations of the portable extended type compared bit for bit with the same
// operations of the x87's long double (where the compiler has it) and of MPFR
// at 64 bits (where the build found it), on drawn operands that make the
// rounding hard. Shared by the unit tests and tests/checks/extended_random_check.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "combine/portable_extended.h"
#include "support/random_bits.h"

#if defined(TARVEL_HAVE_MPFR)
#include <mpfr.h>
#endif

namespace tarvel::testing {

inline constexpr bool kLongDoubleIsX87 = std::numeric_limits<long double>::digits == 64 &&
                                         std::numeric_limits<long double>::max_exponent == 16384;

// The x87 memory image of a value: sign and biased exponent, significand.
struct X87Image {
  std::uint16_t sign_exponent = 0;
  std::uint64_t significand = 0;
  bool operator==(const X87Image&) const = default;
};

inline X87Image image_of(const PortableExtended& x) {
  return {x.x87_sign_exponent(), x.x87_significand()};
}

inline X87Image image_of(long double x) {
  static_assert(sizeof(long double) >= 10);
  unsigned char bytes[sizeof(long double)];
  std::memcpy(bytes, &x, sizeof x);
  X87Image image;
  std::memcpy(&image.significand, bytes, 8);
  std::memcpy(&image.sign_exponent, bytes + 8, 2);
  return image;
}

inline long double long_double_of(const PortableExtended& x) {
  unsigned char bytes[sizeof(long double)] = {};
  const std::uint64_t significand = x.x87_significand();
  const std::uint16_t sign_exponent = x.x87_sign_exponent();
  std::memcpy(bytes, &significand, 8);
  std::memcpy(bytes + 8, &sign_exponent, 2);
  long double value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

inline PortableExtended portable_of(long double x) {
  const X87Image image = image_of(x);
  return PortableExtended::from_x87(image.sign_exponent, image.significand);
}

// True when a finite non-zero value lies outside the x87's normal range,
// where the x87 overflows or underflows and the wider portable type does not.
inline bool outside_x87_range(const PortableExtended& x) {
  return !x.is_nan() && !x.is_infinite() && !x.is_zero() &&
         (x.binary_exponent() < -16382 || x.binary_exponent() > 16383);
}

enum class Operation { kAdd, kSubtract, kMultiply, kDivide, kSquareRoot };
inline constexpr Operation kOperations[] = {Operation::kAdd, Operation::kSubtract,
                                            Operation::kMultiply, Operation::kDivide,
                                            Operation::kSquareRoot};
inline const char* name_of(Operation operation) {
  constexpr const char* kNames[] = {"+", "-", "*", "/", "sqrt"};
  return kNames[static_cast<int>(operation)];
}

template <class T>
T apply(Operation operation, const T& a, const T& b) {
  using std::sqrt;
  switch (operation) {
    case Operation::kAdd:
      return a + b;
    case Operation::kSubtract:
      return a - b;
    case Operation::kMultiply:
      return a * b;
    case Operation::kDivide:
      return a / b;
    default:
      return sqrt(a);
  }
}

// An x87 image with a normal value of the given significand and exponent.
inline PortableExtended make_value(bool negative, int exponent, std::uint64_t significand) {
  return PortableExtended::from_x87(
      static_cast<std::uint16_t>((negative ? 0x8000 : 0) | (exponent + 16383)),
      significand | (std::uint64_t{1} << 63));
}

// The kinds of drawn operands: any 64-bit significand; short significands
// (exact products, sums on rounding midpoints); values a few 64-bit units
// from a float or double midpoint; any float or double bit pattern
// (subnormals, infinities, NaN payloads); wide exponents, as products and
// quotients of doubles reach; and the special values.
inline constexpr int kOperandKinds = 6;

inline PortableExtended draw_operand(Random& random, int kind) {
  const bool negative = (random.next() & 1) != 0;
  switch (kind) {
    case 0:
      return make_value(negative, random.below(81) - 40, random.next());
    case 1: {
      const int bits = 1 + random.below(32);
      return make_value(negative, random.below(81) - 40,
                        random.next() >> (64 - bits) << (64 - bits));
    }
    case 2: {
      // The float (bit 40) or double (bit 11) midpoint, moved by -2..2 units.
      const int half_unit = random.below(2) == 0 ? 40 : 11;
      std::uint64_t significand = random.next() >> (64 - half_unit) << (64 - half_unit);
      significand |= std::uint64_t{1} << (half_unit - 1);
      significand += static_cast<std::uint64_t>(random.below(5) - 2);
      return make_value(negative, random.below(2400) - 1200, significand);
    }
    case 3:
      if (random.below(2) == 0) {
        const auto bits = static_cast<std::uint32_t>(random.next());
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
      } else {
        const std::uint64_t bits = random.next();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
      }
    case 4:
      return make_value(negative, random.below(4400) - 2200, random.next());
    default: {
      constexpr double kInfinity = std::numeric_limits<double>::infinity();
      const std::uint16_t nan_sign_exponent = negative ? 0xFFFF : 0x7FFF;
      const std::uint64_t payload = random.next() | 1;
      const PortableExtended specials[] = {
          0.0,
          -0.0,
          kInfinity,
          -kInfinity,
          1.0,
          PortableExtended::from_x87(nan_sign_exponent, payload | (3ULL << 62)),  // quiet
          PortableExtended::from_x87(nan_sign_exponent, (payload | (1ULL << 63)) & ~(1ULL << 62))};
      return specials[random.below(7)];
    }
  }
}

// A second operand near the first: for sums, a shifted copy that cancels
// or lands on a tie; else drawn on its own.
inline PortableExtended draw_partner(Random& random, int kind, const PortableExtended& first) {
  if (kind < 3 && random.below(2) == 0 && !first.is_zero()) {
    const int shift = random.below(70);
    const PortableExtended scale =
        make_value(random.below(2) == 0, -shift, random.below(4) == 0 ? 0 : random.next());
    return first * scale;
  }
  return draw_operand(random, kind);
}

// The tallies of one comparison run.
struct Comparison {
  std::int64_t cases = 0;
  std::int64_t skipped = 0;  // beyond the x87's range
  std::int64_t mismatches = 0;
};

template <class Report>
void compare_with_hardware(Operation operation, const PortableExtended& a,
                           const PortableExtended& b, Comparison& tally, Report&& report) {
  const long double hardware = apply(operation, long_double_of(a), long_double_of(b));
  const PortableExtended portable = apply(operation, a, b);
  ++tally.cases;
  if (outside_x87_range(portable)) {
    ++tally.skipped;
    return;
  }
  const bool same = image_of(hardware) == image_of(portable) &&
                    std::bit_cast<std::uint32_t>(static_cast<float>(hardware)) ==
                        std::bit_cast<std::uint32_t>(static_cast<float>(portable)) &&
                    std::bit_cast<std::uint64_t>(static_cast<double>(hardware)) ==
                        std::bit_cast<std::uint64_t>(static_cast<double>(portable));
  if (!same) {
    ++tally.mismatches;
    report(operation, a, b, image_of(portable), image_of(hardware));
  }
}

#if defined(TARVEL_HAVE_MPFR)
// MPFR at 64 bits with its own, wider exponent range, rounding to nearest.
class MpfrReference {
 public:
  MpfrReference() { mpfr_inits2(64, a_, b_, result_, static_cast<mpfr_ptr>(nullptr)); }
  ~MpfrReference() { mpfr_clears(a_, b_, result_, static_cast<mpfr_ptr>(nullptr)); }
  MpfrReference(const MpfrReference&) = delete;
  MpfrReference& operator=(const MpfrReference&) = delete;

  // The image of the correctly rounded result (any NaN as the default NaN),
  // and its float and double.
  X87Image apply(Operation operation, const PortableExtended& a, const PortableExtended& b,
                 float& as_float, double& as_double) {
    set(a_, a);
    set(b_, b);
    switch (operation) {
      case Operation::kAdd:
        mpfr_add(result_, a_, b_, MPFR_RNDN);
        break;
      case Operation::kSubtract:
        mpfr_sub(result_, a_, b_, MPFR_RNDN);
        break;
      case Operation::kMultiply:
        mpfr_mul(result_, a_, b_, MPFR_RNDN);
        break;
      case Operation::kDivide:
        mpfr_div(result_, a_, b_, MPFR_RNDN);
        break;
      default:
        mpfr_sqrt(result_, a_, MPFR_RNDN);
        break;
    }
    as_float = mpfr_get_flt(result_, MPFR_RNDN);
    as_double = mpfr_get_d(result_, MPFR_RNDN);
    return image();
  }

 private:
  static void set(mpfr_ptr target, const PortableExtended& x) {
    const X87Image image = image_of(x);
    const int biased = image.sign_exponent & 0x7FFF;
    const bool negative = (image.sign_exponent & 0x8000) != 0;
    if (biased == 0x7FFF) {
      if (x.is_nan()) {
        mpfr_set_nan(target);
      } else {
        mpfr_set_inf(target, negative ? -1 : 1);
      }
    } else if (x.is_zero()) {
      mpfr_set_zero(target, negative ? -1 : 1);
    } else {
      mpfr_set_ui_2exp(target, image.significand, biased - 16383 - 63, MPFR_RNDN);
      if (negative) mpfr_neg(target, target, MPFR_RNDN);
    }
  }

  X87Image image() {
    const std::uint16_t sign = mpfr_signbit(result_) != 0 ? 0x8000 : 0;
    if (mpfr_nan_p(result_)) return {0xFFFF, 0xC000000000000000};
    if (mpfr_inf_p(result_)) return {static_cast<std::uint16_t>(sign | 0x7FFF), 1ULL << 63};
    if (mpfr_zero_p(result_)) return {sign, 0};
    const long exponent = mpfr_get_exp(result_);  // result = m 2^exponent, 1/2 <= m < 1
    mpfr_abs(result_, result_, MPFR_RNDN);
    mpfr_mul_2si(result_, result_, 64 - exponent, MPFR_RNDN);
    const std::uint64_t significand = mpfr_get_ui(result_, MPFR_RNDN);
    return {static_cast<std::uint16_t>(sign | (exponent - 1 + 16383)), significand};
  }

  mpfr_t a_, b_, result_;
};

template <class Report>
void compare_with_mpfr(MpfrReference& mpfr, Operation operation, const PortableExtended& a,
                       const PortableExtended& b, Comparison& tally, Report&& report) {
  float as_float;
  double as_double;
  const X87Image expected = mpfr.apply(operation, a, b, as_float, as_double);
  const PortableExtended portable = apply(operation, a, b);
  ++tally.cases;
  const auto float_bits = [](float v) {
    return std::isnan(v) ? 0x7FC00000u : std::bit_cast<std::uint32_t>(v);
  };
  const auto double_bits = [](double v) {
    return std::isnan(v) ? 0x7FF8000000000000u : std::bit_cast<std::uint64_t>(v);
  };
  const X87Image got =
      portable.is_nan() ? X87Image{0xFFFF, 0xC000000000000000} : image_of(portable);
  if (got != expected || float_bits(static_cast<float>(portable)) != float_bits(as_float) ||
      double_bits(static_cast<double>(portable)) != double_bits(as_double)) {
    ++tally.mismatches;
    report(operation, a, b, got, expected);
  }
}
#endif

}  // namespace tarvel::testing

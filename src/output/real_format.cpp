#include "output/real_format.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "numbers/powers_of_ten.h"
#include "numbers/wide_unsigned.h"
#include "output/item_figures.h"

namespace tarvel {
namespace {

int bit_length(WideUnsigned value) {
  std::uint64_t high = static_cast<std::uint64_t>(value >> 64);
  if (high != 0) return 128 - std::countl_zero(high);
  return 64 - std::countl_zero(static_cast<std::uint64_t>(value));
}

constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr WideUnsigned kSixteenZeroFigures =
    (static_cast<WideUnsigned>(figures_detail::kZeroFigures) << 64) | figures_detail::kZeroFigures;

// Bytes from the top of `value` that are zero.
inline int leading_zero_bytes(WideUnsigned value) {
  const std::uint64_t high = static_cast<std::uint64_t>(value >> 64);
  const std::uint64_t low = static_cast<std::uint64_t>(value);
  return (high != 0 ? std::countl_zero(high) : 64 + std::countl_zero(low)) / 8;
}

inline void store_wide(char* out, WideUnsigned bytes) {
  std::memcpy(out, &bytes, sizeof bytes);
}

}  // namespace

namespace figures_detail {

// The printf "%.*g" text of a finite nonzero positive value from its
// `digits`-digit rounded significand q (10^(digits-1) <= q < 10^digits, at
// most 16 digits) and decimal exponent x, with the exponent written in at
// least three digits. Writes up to 24 bytes past `out` (the text and scratch
// beyond it) and returns the end of the text.
char* write_general(char* out, std::uint64_t q, int x, int digits) {
  // Figure i of q in byte i: sixteen places, less the leading zero places.
  const WideUnsigned places =
      (static_cast<WideUnsigned>(eight_figures(static_cast<std::uint32_t>(q % 100000000))) << 64) |
      eight_figures(static_cast<std::uint32_t>(q / 100000000));
  const WideUnsigned figures = places >> (8 * (16 - digits));
  // q's first figure is not zero, so the trailing zeros stop before it.
  const int used = digits - leading_zero_bytes(places ^ kSixteenZeroFigures);

  if (x < -4 || x >= digits) {
    // "d.ddde-xxx": the point after the first figure.
    const WideUnsigned first = figures & 0xFF;
    store_wide(out, first | (static_cast<WideUnsigned>('.') << 8) | ((figures >> 8) << 16));
    store(out + 16, static_cast<std::uint64_t>(figures >> 120));
    out += used > 1 ? used + 1 : 1;
    const int magnitude = x < 0 ? -x : x;
    out[0] = 'e';
    out[1] = x < 0 ? '-' : '+';
    out[2] = static_cast<char>('0' + magnitude / 100);
    std::memcpy(out + 3, kDigitPairs + 2 * (magnitude % 100), 2);
    return out + 5;
  }
  return write_fixed(out, figures, used, x);
}

}  // namespace figures_detail

namespace {

using figures_detail::write_general;

enum class Scaled { kFits, kTooSmall, kTooLarge, kOutOfRange };

// The `digits`-digit significand q of m * 2^e for the decimal exponent x:
// m * 2^e * 10^(digits-1-x) rounded to nearest, ties to even, computed
// exactly. kTooSmall / kTooLarge when x is not the value's decimal exponent,
// kOutOfRange when the exact product does not fit 128 bits.

Scaled scale(std::uint64_t m, int e, int x, int digits, std::uint64_t& q) {
  const int p = digits - 1 - x;
  const std::uint64_t low = kPowersOfTen[digits - 1];
  const std::uint64_t high = kPowersOfTen[digits];
  WideUnsigned floor_part;
  bool above_half = false;
  bool at_half = false;
  if (p >= 0) {
    if (p > kMaxWidePower) return Scaled::kOutOfRange;
    const WideUnsigned ten = kWidePowersOfTen[p];
    if (kWidePowerBitLengths[p] + 64 - std::countl_zero(m) > 127) return Scaled::kOutOfRange;
    WideUnsigned n = static_cast<WideUnsigned>(m) * ten;
    if (e >= 0) {
      if (bit_length(n) + e > 127) return Scaled::kOutOfRange;
      floor_part = n << e;
    } else {
      const int s = -e;
      if (s > 127) return Scaled::kOutOfRange;
      floor_part = n >> s;
      WideUnsigned rest = n & ((static_cast<WideUnsigned>(1) << s) - 1);
      WideUnsigned half = static_cast<WideUnsigned>(1) << (s - 1);
      above_half = rest > half;
      at_half = rest == half;
    }
  } else {
    if (e < 0 || -p > kMaxWidePower) return Scaled::kOutOfRange;
    WideUnsigned n = static_cast<WideUnsigned>(m);
    if (bit_length(n) + e > 127) return Scaled::kOutOfRange;
    n <<= e;
    const WideUnsigned ten = kWidePowersOfTen[-p];
    floor_part = n / ten;
    WideUnsigned rest = n % ten;
    above_half = rest * 2 > ten;
    at_half = rest * 2 == ten;
  }
  if (floor_part < low) return Scaled::kTooSmall;
  if (floor_part >= high) return Scaled::kTooLarge;
  q = static_cast<std::uint64_t>(floor_part);
  if (above_half || (at_half && (q & 1) != 0)) ++q;
  return Scaled::kFits;
}

// Exact "%.*g" for a finite positive normal double by integer arithmetic;
// nullptr when the value lies outside the range this path covers.
char* write_exact(char* out, double value, int digits) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  int biased = static_cast<int>(bits >> 52);
  if (biased == 0 || digits < 1 || digits > 16) return nullptr;
  std::uint64_t m = (bits & ((1ull << 52) - 1)) | (1ull << 52);
  int e = biased - 1075;
  int zeros = std::countr_zero(m);
  m >>= zeros;
  e += zeros;
  // value lies in [2^b, 2^(b+1)); its decimal exponent is floor(b log10 2) or
  // one more.
  const int b = 63 - std::countl_zero(m) + e;
  int x = (b * 78913) >> 18;
  std::uint64_t q = 0;
  Scaled scaled = scale(m, e, x, digits, q);
  if (scaled == Scaled::kTooLarge) {
    ++x;
    scaled = scale(m, e, x, digits, q);
  }
  if (scaled != Scaled::kFits) return nullptr;
  if (q == kPowersOfTen[digits]) {
    q = kPowersOfTen[digits - 1];
    ++x;
  }
  return write_general(out, q, x, digits);
}

}  // namespace

std::size_t format_real(double value, int digits, bool sign_blank, char* out) {
  char* start = out;
  if (std::isnan(value)) {
    // A NaN's sign bit depends on operand order and the compiler, so it is
    // never shown: the output must not depend on the build.
    if (sign_blank) *out++ = ' ';
    std::memcpy(out, "nan", 3);
    return static_cast<std::size_t>(out + 3 - start);
  }
  // Signs come at random in the tool's data: selects, not branches.
  const bool negative = std::signbit(value);
  *out = negative ? '-' : ' ';
  out += negative || sign_blank ? 1 : 0;
  value = std::fabs(value);
  if (value != 0 && !std::isinf(value)) {
    char* end = nullptr;
    ItemFigures figures;
    if (digits == kSingleDigits && static_cast<double>(static_cast<float>(value)) == value &&
        single_item_figures(static_cast<float>(value), figures)) {
      end = write_seven_figures(out, figures);
    } else if (digits == kDoubleDigits && double_item_figures(value, figures)) {
      end = write_sixteen_figures(out, figures);
    }
    if (end == nullptr) end = write_exact(out, value, digits);
    if (end != nullptr) return static_cast<std::size_t>(end - start);
  }
  // Zero, infinity, subnormals and the far ends of the range: to_chars in
  // general form with a precision is printf's %g to the byte.
  char* end =
      std::to_chars(out, start + kRealTextCapacity, value, std::chars_format::general, digits).ptr;
  // Widen a two-digit exponent ("e+07") to three digits ("e+007").
  if (end - out >= 4 && end[-4] == 'e') {
    end[0] = end[-1];
    end[-1] = end[-2];
    end[-2] = '0';
    ++end;
  }
  return static_cast<std::size_t>(end - start);
}

std::size_t format_single_item(float value, char* out) {
  // The values the short path takes, straight to it; zeros, the far ends of
  // the range, infinities and NaN by the general rules.
  ItemFigures figures;
  if (!single_item_figures(value, figures)) {
    return format_real(static_cast<double>(value), kSingleDigits, true, out);
  }
  *out = std::signbit(value) ? '-' : ' ';
  return static_cast<std::size_t>(write_seven_figures(out + 1, figures) - out);
}

std::size_t format_double_item(double value, char* out) {
  ItemFigures figures;
  if (!double_item_figures(value, figures)) return format_real(value, kDoubleDigits, true, out);
  *out = std::signbit(value) ? '-' : ' ';
  return static_cast<std::size_t>(write_sixteen_figures(out + 1, figures) - out);
}

}  // namespace tarvel

#include "output/real_format.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace tarvel {
namespace {

using U128 = unsigned __int128;

constexpr std::uint64_t kPowersOfTen[20] = {1ull,
                                            10ull,
                                            100ull,
                                            1000ull,
                                            10000ull,
                                            100000ull,
                                            1000000ull,
                                            10000000ull,
                                            100000000ull,
                                            1000000000ull,
                                            10000000000ull,
                                            100000000000ull,
                                            1000000000000ull,
                                            10000000000000ull,
                                            100000000000000ull,
                                            1000000000000000ull,
                                            10000000000000000ull,
                                            100000000000000000ull,
                                            1000000000000000000ull,
                                            10000000000000000000ull};

struct WidePowersOfTen {
  U128 value[39];
  int bits[39];
};

// 10^p for p = 0..38 as 128-bit integers, with their bit lengths.
constexpr WidePowersOfTen make_wide_powers_of_ten() {
  WidePowersOfTen table{};
  U128 value = 1;
  for (int p = 0; p <= 38; ++p) {
    table.value[p] = value;
    int bits = 0;
    for (U128 rest = value; rest != 0; rest >>= 1) ++bits;
    table.bits[p] = bits;
    value *= 10;
  }
  return table;
}

constexpr WidePowersOfTen kWidePowersOfTen = make_wide_powers_of_ten();

int bit_length(U128 value) {
  std::uint64_t high = static_cast<std::uint64_t>(value >> 64);
  if (high != 0) return 128 - std::countl_zero(high);
  return 64 - std::countl_zero(static_cast<std::uint64_t>(value));
}

// The printf "%.*g" text of a finite nonzero positive value from its
// `digits`-digit rounded significand q (10^(digits-1) <= q < 10^digits) and
// decimal exponent x, with the exponent written in at least three digits.
char* write_general(char* out, std::uint64_t q, int x, int digits) {
  char figures[20];
  for (int i = digits - 1; i >= 0; --i) {
    figures[i] = static_cast<char>('0' + q % 10);
    q /= 10;
  }
  int used = digits;
  while (used > 1 && figures[used - 1] == '0') --used;

  if (x < -4 || x >= digits) {
    *out++ = figures[0];
    if (used > 1) {
      *out++ = '.';
      std::memcpy(out, figures + 1, static_cast<std::size_t>(used - 1));
      out += used - 1;
    }
    *out++ = 'e';
    *out++ = x < 0 ? '-' : '+';
    int magnitude = x < 0 ? -x : x;
    *out++ = static_cast<char>('0' + magnitude / 100);
    *out++ = static_cast<char>('0' + magnitude / 10 % 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
    return out;
  }
  if (x >= 0) {
    std::memcpy(out, figures, static_cast<std::size_t>(x + 1));
    out += x + 1;
    if (used > x + 1) {
      *out++ = '.';
      std::memcpy(out, figures + x + 1, static_cast<std::size_t>(used - x - 1));
      out += used - x - 1;
    }
    return out;
  }
  *out++ = '0';
  *out++ = '.';
  for (int i = -1; i > x; --i) *out++ = '0';
  std::memcpy(out, figures, static_cast<std::size_t>(used));
  return out + used;
}

enum class Scaled { kFits, kTooSmall, kTooLarge, kOutOfRange };

// The `digits`-digit significand q of m * 2^e for the decimal exponent x:
// m * 2^e * 10^(digits-1-x) rounded to nearest, ties to even, computed
// exactly. kTooSmall / kTooLarge when x is not the value's decimal exponent,
// kOutOfRange when the exact product does not fit 128 bits.

Scaled scale(std::uint64_t m, int e, int x, int digits, std::uint64_t& q) {
  const int p = digits - 1 - x;
  const std::uint64_t low = kPowersOfTen[digits - 1];
  const std::uint64_t high = kPowersOfTen[digits];
  U128 floor_part;
  bool above_half = false;
  bool at_half = false;
  if (p >= 0) {
    if (p > 38) return Scaled::kOutOfRange;
    const U128 ten = kWidePowersOfTen.value[p];
    if (kWidePowersOfTen.bits[p] + 64 - std::countl_zero(m) > 127) return Scaled::kOutOfRange;
    U128 n = static_cast<U128>(m) * ten;
    if (e >= 0) {
      if (bit_length(n) + e > 127) return Scaled::kOutOfRange;
      floor_part = n << e;
    } else {
      const int s = -e;
      if (s > 127) return Scaled::kOutOfRange;
      floor_part = n >> s;
      U128 rest = n & ((static_cast<U128>(1) << s) - 1);
      U128 half = static_cast<U128>(1) << (s - 1);
      above_half = rest > half;
      at_half = rest == half;
    }
  } else {
    if (e < 0 || -p > 38) return Scaled::kOutOfRange;
    U128 n = static_cast<U128>(m);
    if (bit_length(n) + e > 127) return Scaled::kOutOfRange;
    n <<= e;
    const U128 ten = kWidePowersOfTen.value[-p];
    floor_part = n / ten;
    U128 rest = n % ten;
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
  if (biased == 0 || digits < 1 || digits > 17) return nullptr;
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
  if (std::signbit(value)) {
    *out++ = '-';
    value = -value;
  } else if (sign_blank) {
    *out++ = ' ';
  }
  if (value != 0 && !std::isinf(value)) {
    if (char* end = write_exact(out, value, digits)) return static_cast<std::size_t>(end - start);
  }
  // Zero, infinity, subnormals and the far ends of the range: to_chars in
  // general form with a precision is printf's %g to the byte.
  char* end = std::to_chars(out, start + kRealTextCapacity, value, std::chars_format::general,
                            digits)
                  .ptr;
  // Widen a two-digit exponent ("e+07") to three digits ("e+007").
  if (end - out >= 4 && end[-4] == 'e') {
    end[0] = end[-1];
    end[-1] = end[-2];
    end[-2] = '0';
    ++end;
  }
  return static_cast<std::size_t>(end - start);
}

}  // namespace tarvel

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

constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The eight figures of v < 10^8 as text in one word, the first figure in the
// lowest byte (first in memory on this little-endian machine): the halves,
// quarters and single figures are split off in parallel lanes of one
// register, by multiplications that divide exactly in the lanes' ranges.
inline std::uint64_t eight_figures(std::uint32_t v) {
  const std::uint64_t halves = v / 10000 + (static_cast<std::uint64_t>(v % 10000) << 32);
  const std::uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007F;
  const std::uint64_t quarters = hundreds + ((halves - hundreds * 100) << 16);
  const std::uint64_t tens = ((quarters * 103) >> 10) & 0x000F000F000F000F;
  return (tens + ((quarters - tens * 10) << 8)) | 0x3030303030303030;
}

constexpr U128 kZeroFigures = (static_cast<U128>(0x3030303030303030) << 64) | 0x3030303030303030;

// Bytes from the top of `value` that are zero.
inline int leading_zero_bytes(U128 value) {
  const std::uint64_t high = static_cast<std::uint64_t>(value >> 64);
  const std::uint64_t low = static_cast<std::uint64_t>(value);
  return (high != 0 ? std::countl_zero(high) : 64 + std::countl_zero(low)) / 8;
}

inline void store(char* out, U128 bytes) {
  std::memcpy(out, &bytes, sizeof bytes);
}
inline void store(char* out, std::uint64_t bytes) {
  std::memcpy(out, &bytes, sizeof bytes);
}

// The printf "%.*g" text of a finite nonzero positive value from its
// `digits`-digit rounded significand q (10^(digits-1) <= q < 10^digits, at
// most 16 digits) and decimal exponent x, with the exponent written in at
// least three digits. Writes up to 24 bytes past `out` (the text and scratch
// beyond it) and returns the end of the text.
//
// The text is composed in registers: the values the tool prints change form
// and length from one to the next at random, so the fixed form is laid out
// with shifts and selects rather than branches, which would be mispredicted,
// and stored with a few wide stores.
char* write_general(char* out, std::uint64_t q, int x, int digits) {
  // Figure i of q in byte i: sixteen places, less the leading zero places.
  const U128 places =
      (static_cast<U128>(eight_figures(static_cast<std::uint32_t>(q % 100000000))) << 64) |
      eight_figures(static_cast<std::uint32_t>(q / 100000000));
  const U128 figures = places >> (8 * (16 - digits));
  // q's first figure is not zero, so the trailing zeros stop before it.
  const int used = digits - leading_zero_bytes(places ^ kZeroFigures);

  if (x < -4 || x >= digits) {
    // "d.ddde-xxx": the point after the first figure.
    const U128 first = figures & 0xFF;
    store(out, first | (static_cast<U128>('.') << 8) | ((figures >> 8) << 16));
    store(out + 16, static_cast<std::uint64_t>(figures >> 120));
    out += used > 1 ? used + 1 : 1;
    const int magnitude = x < 0 ? -x : x;
    out[0] = 'e';
    out[1] = x < 0 ? '-' : '+';
    out[2] = static_cast<char>('0' + magnitude / 100);
    std::memcpy(out + 3, kDigitPairs + 2 * (magnitude % 100), 2);
    return out + 5;
  }
  // Fixed form, x from -4 to digits - 1. Below 1 ("0.000ddd"): the figures
  // after "0." and -x - 1 zeros; "0.000" under them changes no figure, as
  // every figure already has the bits of '0'. From 1 on ("ddd.ddd"): figures
  // 0 to x, the point, and the rest, which is left out with the point when it
  // is empty. Only the last of 16 figures can spill past the sixteen bytes.
  const int below_shift = 8 * (1 - (x < 0 ? x : -1));
  const U128 below = (figures << below_shift) | 0x3030302E30;
  const std::uint64_t below_spill = static_cast<std::uint64_t>(figures >> (128 - below_shift));
  const int point = x + 1;
  const U128 integer_mask =
      point >= 16 ? ~static_cast<U128>(0) : (static_cast<U128>(1) << (8 * (point & 15))) - 1;
  const U128 dot = point >= 16 ? 0 : static_cast<U128>('.') << (8 * (point & 15));
  const U128 above = (figures & integer_mask) | dot | ((figures & ~integer_mask) << 8);
  const std::uint64_t above_spill = static_cast<std::uint64_t>(figures >> 120);
  const bool small = x < 0;
  store(out, small ? below : above);
  store(out + 16, small ? below_spill : above_spill);
  const int length = small ? 1 - x + used : used > point ? used + 1 : point;
  return out + length;
}

// write_general for seven digits, in one word: the common case of singles.
char* write_seven_digits(char* out, std::uint32_t q, int x) {
  // q < 10^7 leaves the first of the eight places zero; figure i of q then
  // sits in byte i + 1, and the trailing zero figures at the top.
  const std::uint64_t places = eight_figures(q);
  const std::uint64_t figures = places >> 8;
  const int used = 7 - std::countl_zero(places ^ 0x3030303030303030) / 8;
  if (x < -4 || x >= 7) return write_general(out, q, x, 7);
  const int below_shift = 8 * (1 - (x < 0 ? x : -1));
  const std::uint64_t below = (figures << below_shift) | 0x3030302E30;
  const std::uint64_t below_spill = figures >> (64 - below_shift);
  const int point = x + 1;
  const std::uint64_t integer_mask = (std::uint64_t{1} << (8 * (point & 7))) - 1;
  const std::uint64_t above = (figures & integer_mask) | (std::uint64_t{'.'} << (8 * (point & 7))) |
                              ((figures & ~integer_mask) << 8);
  const bool small = x < 0;
  store(out, small ? below : above);
  store(out + 8, small ? below_spill : 0);
  const int length = small ? 1 - x + used : used > point ? used + 1 : point;
  return out + length;
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

// Rounds floor + rest/2^s to nearest, ties to even, where `rest` holds the s
// bits below the floor.
template <typename Wide>
std::uint64_t round_shifted(Wide n, int s) {
  const std::uint64_t floor_part = static_cast<std::uint64_t>(n >> s);
  const Wide rest = n & ((static_cast<Wide>(1) << s) - 1);
  const Wide half = static_cast<Wide>(1) << (s - 1);
  return floor_part + ((rest > half || (rest == half && (floor_part & 1) != 0)) ? 1 : 0);
}

// Exact powers of ten as doubles, 10^0 to 10^12.
constexpr double kDoublePowersOfTen[13] = {1e0, 1e1, 1e2, 1e3,  1e4,  1e5, 1e6,
                                           1e7, 1e8, 1e9, 1e10, 1e11, 1e12};

// 10^k for k = -5 to 7, entry k + 5, as the nearest doubles: a float compares
// with them as with 10^k itself, unless it is that very double, which the
// rounding test below then catches.
constexpr double kDecadeStarts[13] = {1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1,
                                      1e2,  1e3,  1e4,  1e5,  1e6,  1e7};

// The integer nearest to 0 <= w < 2^52, ties to even: adding 2^52 leaves no
// fraction bits, so the addition itself rounds, in the nearest-even mode the
// process runs in.
inline std::uint64_t round_to_integer(double w) {
  constexpr double kTwoTo52 = 4503599627370496.0;
  return static_cast<std::uint64_t>((w + kTwoTo52) - kTwoTo52);
}

// "%.7g" for a positive single-precision value from about 2e-6 to 8e6, the
// range of nearly every value the tool prints. The value is m * 2^e with a
// 24-bit m, and 10^p = 5^p * 2^p with 5^p below 2^28 for p <= 12, so
// value * 10^p has a significand below 2^52: the double multiplication is
// exact, and rounding it to an integer is the correctly rounded significand.
// nullptr outside that range.
char* write_single_fast(char* out, float value) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  const int b = static_cast<int>(bits >> 23) - 127;  // value in [2^b, 2^(b+1))
  if (b < -19 || b > 22) return nullptr;
  // floor(b log10 2) is the decimal exponent x or x - 1; one comparison,
  // which sets a flag rather than taking a branch, tells which.
  const double widened = static_cast<double>(value);
  const int low_x = (b * 1233) >> 12;
  int x = low_x + (widened >= kDecadeStarts[low_x + 6] ? 1 : 0);
  for (;;) {
    const std::uint64_t q = round_to_integer(widened * kDoublePowersOfTen[6 - x]);
    if (q >= 10000000) {
      // Either x was one too small, or rounding carried to 10^7: both are
      // the significand 1000000 of the next exponent.
      if (q == 10000000) return write_seven_digits(out, 1000000, x + 1);
      ++x;
      continue;
    }
    if (q < 1000000) {
      --x;
      continue;
    }
    return write_seven_digits(out, static_cast<std::uint32_t>(q), x);
  }
}

// "%.16g" for a positive normal double from about 1e-4 to 1e16: with the
// 53-bit significand m and 10^p <= 10^19, m * 10^p fits 128 bits and one
// multiplication forms it. nullptr outside that range.
char* write_double_fast(char* out, double value) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const int biased = static_cast<int>(bits >> 52);
  const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int e = biased - 1075;
  const int b = biased - 1023;
  if (b < -13 || b > 52) return nullptr;
  int x = (b * 1233) >> 12;
  for (;;) {
    const int p = 15 - x;
    if (p < 0 || p > 19) return nullptr;
    const U128 n = static_cast<U128>(m) * kPowersOfTen[p];
    const U128 floor_part = e >= 0 ? n << e : n >> -e;
    if (floor_part >= kPowersOfTen[16]) {
      ++x;
      continue;
    }
    if (floor_part < kPowersOfTen[15]) {
      --x;
      continue;
    }
    std::uint64_t q = e >= 0 ? static_cast<std::uint64_t>(floor_part) : round_shifted(n, -e);
    if (q == kPowersOfTen[16]) {
      q = kPowersOfTen[15];
      ++x;
    }
    return write_general(out, q, x, 16);
  }
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
    if (digits == kSingleDigits && static_cast<double>(static_cast<float>(value)) == value) {
      end = write_single_fast(out, static_cast<float>(value));
    } else if (digits == kDoubleDigits) {
      end = write_double_fast(out, value);
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
  // The values the fast path takes, straight to it; zeros, the far ends of
  // the range, infinities and NaN by the general rules.
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  const int b = static_cast<int>((bits >> 23) & 0xFF) - 127;
  if (b < -19 || b > 22) return format_real(static_cast<double>(value), kSingleDigits, true, out);
  *out = (bits >> 31) != 0 ? '-' : ' ';
  const char* end = write_single_fast(out + 1, std::fabs(value));
  if (end == nullptr) return format_real(static_cast<double>(value), kSingleDigits, true, out);
  return static_cast<std::size_t>(end - out);
}

std::size_t format_double_item(double value, char* out) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const int b = static_cast<int>((bits >> 52) & 0x7FF) - 1023;
  if (b < -13 || b > 52) return format_real(value, kDoubleDigits, true, out);
  *out = (bits >> 63) != 0 ? '-' : ' ';
  const char* end = write_double_fast(out + 1, std::fabs(value));
  if (end == nullptr) return format_real(value, kDoubleDigits, true, out);
  return static_cast<std::size_t>(end - out);
}

}  // namespace tarvel

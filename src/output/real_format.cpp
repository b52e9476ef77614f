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
constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the four digits of v < 10000, as two independent halves.
inline void write_four_digits(char* out, std::uint32_t v) {
  std::memcpy(out, kDigitPairs + 2 * (v / 100), 2);
  std::memcpy(out + 2, kDigitPairs + 2 * (v % 100), 2);
}

// The printf "%.*g" text of a finite nonzero positive value from its
// `digits`-digit rounded significand q (10^(digits-1) <= q < 10^digits, at
// most 16 digits) and decimal exponent x, with the exponent written in at
// least three digits. Writes up to 24 bytes past `out` (the text and some
// scratch beyond it) and returns the end of the text.
char* write_general(char* out, std::uint64_t q, int x, int digits) {
  // The figures of q right-aligned in 16 places; groups of four digits are
  // independent, so their divisions do not wait on each other. The rest of
  // the array lets fixed-size copies read past the last figure.
  char all[48] = {};
  const std::uint32_t low = static_cast<std::uint32_t>(q % 100000000);
  if (digits > 8) {
    const std::uint32_t high = static_cast<std::uint32_t>(q / 100000000);
    write_four_digits(all, high / 10000);
    write_four_digits(all + 4, high % 10000);
  }
  write_four_digits(all + 8, low / 10000);
  write_four_digits(all + 12, low % 10000);
  const char* figures = all + 16 - digits;
  int used = digits;
  while (used > 1 && figures[used - 1] == '0') --used;

  if (x < -4 || x >= digits) {
    out[0] = figures[0];
    out[1] = '.';
    std::memcpy(out + 2, figures + 1, 16);
    out += used > 1 ? used + 1 : 1;
    const int magnitude = x < 0 ? -x : x;
    out[0] = 'e';
    out[1] = x < 0 ? '-' : '+';
    out[2] = static_cast<char>('0' + magnitude / 100);
    std::memcpy(out + 3, kDigitPairs + 2 * (magnitude % 100), 2);
    return out + 5;
  }
  if (x >= 0) {
    std::memcpy(out, figures, 16);
    if (used <= x + 1) return out + x + 1;
    out[x + 1] = '.';
    std::memcpy(out + x + 2, figures + x + 1, 16);
    return out + used + 1;
  }
  // 0.000ddd: x is -1 to -4.
  std::memcpy(out, "0.000", 5);
  out += 1 - x;
  std::memcpy(out, figures, 16);
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

// The integer nearest to 0 <= w < 2^52, ties to even: adding 2^52 leaves no
// fraction bits, so the addition itself rounds, in the nearest-even mode the
// process runs in.
inline std::uint64_t round_to_integer(double w) {
  constexpr double kTwoTo52 = 4503599627370496.0;
  return static_cast<std::uint64_t>((w + kTwoTo52) - kTwoTo52);
}

// "%.7g" for a positive single-precision value from about 1e-6 to 1e7, the
// range of nearly every value the tool prints. The value is m * 2^e with a
// 24-bit m, and 10^p = 5^p * 2^p with 5^p below 2^28 for p <= 12, so
// value * 10^p has a significand below 2^52: the double multiplication is
// exact, and rounding it to an integer is the correctly rounded significand.
// nullptr outside that range.
char* write_single_fast(char* out, float value) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  const int b = static_cast<int>(bits >> 23) - 127;  // value in [2^b, 2^(b+1))
  if (b < -19 || b > 23) return nullptr;
  int x = (b * 1233) >> 12;  // floor(b log10 2), which is x or x - 1
  const double widened = static_cast<double>(value);
  for (;;) {
    const int p = 6 - x;
    if (p < 0 || p > 12) return nullptr;
    const std::uint64_t q = round_to_integer(widened * kDoublePowersOfTen[p]);
    if (q >= 10000000) {
      // Either x was one too small, or rounding carried to 10^7: both are
      // the significand 1000000 of the next exponent.
      if (q == 10000000) return write_general(out, 1000000, x + 1, 7);
      ++x;
      continue;
    }
    if (q < 1000000) {
      --x;
      continue;
    }
    return write_general(out, q, x, 7);
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

}  // namespace tarvel

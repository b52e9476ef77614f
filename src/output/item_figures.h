// The short paths of the output's items: the decimal figures of a single in
// "%.7g" and of a double in "%.16g" over the range nearly every item falls
// in, and their text. Inline, so that a loop over many items can work out the
// figures of several at once before it writes any: each item's figures are a
// long chain of dependent steps, and one item at a time leaves the processor
// waiting on them.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "numbers/powers_of_ten.h"
#include "numbers/wide_unsigned.h"

namespace tarvel {

// A significand q of 7 (singles) or 16 (doubles) digits and the decimal
// exponent x: the magnitude is q * 10^(x - digits + 1), correctly rounded.
struct ItemFigures {
  std::uint64_t q;
  int x;
};

namespace figures_detail {

// The "%.*g" text of q and x for any exponent; writes up to 24 bytes past
// `out` and returns the end of the text.
char* write_general(char* out, std::uint64_t q, int x, int digits);

inline void store(char* out, std::uint64_t bytes) {
  std::memcpy(out, &bytes, sizeof bytes);
}

constexpr std::uint64_t kZeroFigures = 0x3030303030303030;

// The eight figures of v < 10^8 as text in one word, the first figure in the
// lowest byte (first in memory on this little-endian machine): the halves,
// quarters and single figures are split off in parallel lanes of one
// register, by multiplications that divide exactly in the lanes' ranges.
inline std::uint64_t eight_figures(std::uint32_t v) {
  const std::uint64_t halves = v / 10000 + (static_cast<std::uint64_t>(v % 10000) << 32);
  const std::uint64_t hundreds = ((halves * 10486) >> 20) & 0x0000007F0000007F;
  const std::uint64_t quarters = hundreds + ((halves - hundreds * 100) << 16);
  const std::uint64_t tens = ((quarters * 103) >> 10) & 0x000F000F000F000F;
  return (tens + ((quarters - tens * 10) << 8)) | kZeroFigures;
}

// The nearest doubles to 10^k for k = -5 to 16 (entry k + 5), the decades
// the short paths cover. A value compares with them as with 10^k itself,
// unless it is that very double, which the range checks on the significand
// then catch.
constexpr double kDecadeStarts[22] = {1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2,
                                      1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9, 1e10,
                                      1e11, 1e12, 1e13, 1e14, 1e15, 1e16};

// The integer nearest to 0 <= w < 2^52, ties to even: adding 2^52 leaves no
// fraction bits, so the addition itself rounds, in the nearest-even mode the
// process runs in.
inline std::uint64_t round_to_integer(double w) {
  constexpr double kTwoTo52 = 4503599627370496.0;
  return static_cast<std::uint64_t>((w + kTwoTo52) - kTwoTo52);
}

// Where the point goes in a word of figures, for each place 0 to twice the
// word's size: the figures before it and the point shifted there, or all
// figures and no point from the word's size on. A lookup, rather than shifts
// by a variable amount, which cost several instructions each on 128 bits.
template <typename Word>
struct PointPlace {
  Word integer_mask;
  Word dot;
};

template <typename Word>
constexpr std::array<PointPlace<Word>, 2 * sizeof(Word)> make_point_places() {
  std::array<PointPlace<Word>, 2 * sizeof(Word)> places{};
  for (std::size_t i = 0; i < places.size(); ++i) {
    places[i] = i < sizeof(Word) ? PointPlace<Word>{(Word{1} << (8 * i)) - 1, Word{'.'} << (8 * i)}
                                 : PointPlace<Word>{~Word{0}, 0};
  }
  return places;
}

template <typename Word>
inline constexpr auto kPointPlaces = make_point_places<Word>();

// The fixed form of the first `used` (at least one) of the figures in
// `figures`, figure i in byte i, for the decimal exponent x from -4 to one
// less than the figure count: a 64-bit word for up to seven figures, which
// leaves a byte for the point, and a 128-bit one for up to sixteen, where
// only the last figure can spill past it. Writes the word and eight bytes
// after it at `out`; returns the text's end.
//
// The text is composed in registers: the values the tool prints change form
// and length from one to the next at random, so the form is chosen with
// shifts and selects rather than branches, which would be mispredicted, and
// stored with a few wide stores.
template <typename Word>
inline char* write_fixed(char* out, Word figures, int used, int x) {
  constexpr int kBytes = sizeof(Word);
  // Below 1 ("0.000ddd"): the figures after "0." and -x - 1 zeros; "0.000"
  // under them changes no figure, as every figure already has the bits of
  // '0'. From 1 on ("ddd.ddd"): figures 0 to x, the point, and the rest,
  // which is left out with the point when it is empty.
  const int below_shift = 8 * (1 - (x < 0 ? x : -1));
  const Word below = (figures << below_shift) | 0x3030302E30;
  // The spills come from the top 64 bits alone, shifted by less than 64.
  const auto top = static_cast<std::uint64_t>(figures >> (8 * kBytes - 64));
  const std::uint64_t below_spill = top >> (64 - below_shift);
  const int point = x + 1;
  // Masked, so that a point below 1, whose entry goes unused, finds one too.
  const PointPlace<Word>& place = kPointPlaces<Word>[point & (2 * kBytes - 1)];
  const Word above =
      (figures & place.integer_mask) | place.dot | ((figures & ~place.integer_mask) << 8);
  const std::uint64_t above_spill = top >> 56;
  const bool small = x < 0;
  const Word text = small ? below : above;
  std::memcpy(out, &text, sizeof text);
  store(out + kBytes, small ? below_spill : above_spill);
  const int length = small ? 1 - x + used : used > point ? used + 1 : point;
  return out + length;
}

}  // namespace figures_detail

// The figures of |value| with seven digits, for singles from about 2e-6 to
// 8e6; false outside that range (zeros, infinities and NaN included). The
// magnitude is m * 2^e with a 24-bit m, and 10^p = 5^p * 2^p with 5^p below
// 2^28 for p <= 12, so |value| * 10^p has a significand below 2^52: the double
// multiplication is exact, and rounding it to an integer is the correctly
// rounded significand.
inline bool single_item_figures(float value, ItemFigures& figures) {
  using namespace figures_detail;
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
  const int b = static_cast<int>((bits >> 23) & 0xFF) - 127;  // |value| in [2^b, 2^(b+1))
  if (b < -19 || b > 22) return false;
  const double magnitude = std::fabs(static_cast<double>(value));
  // floor(b log10 2) is the decimal exponent x or x - 1; one comparison,
  // which sets a flag rather than taking a branch, tells which.
  const int low_x = (b * 1233) >> 12;
  int x = low_x + (magnitude >= kDecadeStarts[low_x + 6] ? 1 : 0);
  for (;;) {
    const std::uint64_t q = round_to_integer(magnitude * kExactDoublePowersOfTen[6 - x]);
    if (q >= 10000000) {
      // Either x was one too small, or rounding carried to 10^7: both are
      // the significand 1000000 of the next exponent.
      if (q == 10000000) {
        figures = {1000000, x + 1};
        return true;
      }
      ++x;
      continue;
    }
    if (q < 1000000) {
      --x;
      continue;
    }
    figures = {q, x};
    return true;
  }
}

// The figures of |value| with sixteen digits, for doubles from about 1.2e-4
// to 4.5e15; false outside that range. With the 53-bit significand m and
// 10^p <= 10^19, m * 10^p fits 128 bits and one multiplication forms it.
inline bool double_item_figures(double value, ItemFigures& figures) {
  using namespace figures_detail;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  const int b = static_cast<int>((bits >> 52) & 0x7FF) - 1023;  // |value| in [2^b, 2^(b+1))
  if (b < -13 || b > 51) return false;
  const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int s = 52 - b;  // the fraction bits of m, 1 to 65
  const int low_x = (b * 1233) >> 12;
  int x = low_x + (std::fabs(value) >= kDecadeStarts[low_x + 6] ? 1 : 0);
  for (;;) {
    const int p = 15 - x;
    if (p < 0 || p > 19) return false;
    const WideUnsigned n = static_cast<WideUnsigned>(m) * kPowersOfTen[p];
    const WideUnsigned floor_part = n >> s;
    if (floor_part >= kPowersOfTen[16]) {
      ++x;
      continue;
    }
    if (floor_part < kPowersOfTen[15]) {
      --x;
      continue;
    }
    // To nearest, ties to even: adding half less one, plus the floor's last
    // bit, carries into the floor exactly when the rest is above half, or at
    // half with an odd floor.
    const WideUnsigned half = static_cast<WideUnsigned>(1) << (s - 1);
    std::uint64_t q = static_cast<std::uint64_t>((n + (half - 1) + (floor_part & 1)) >> s);
    if (q == kPowersOfTen[16]) {
      q = kPowersOfTen[15];
      ++x;
    }
    figures = {q, x};
    return true;
  }
}

// The "%.7g" text of single_item_figures' result, in one word where the
// fixed form applies. Writes up to 24 bytes at `out`; returns the text's end.
inline char* write_seven_figures(char* out, ItemFigures figures) {
  using namespace figures_detail;
  const int x = figures.x;
  if (x < -4 || x >= 7) return write_general(out, figures.q, x, 7);
  // q < 10^7 leaves the first of the eight places zero; figure i of q then
  // sits in byte i + 1, and the trailing zero figures at the top.
  const std::uint64_t places = eight_figures(static_cast<std::uint32_t>(figures.q));
  const int used = 7 - std::countl_zero(places ^ kZeroFigures) / 8;
  return write_fixed(out, places >> 8, used, x);
}

// The "%.16g" text of double_item_figures' result, always in the fixed form
// (x from -4 to 15). Writes 24 bytes at `out`; returns the text's end.
inline char* write_sixteen_figures(char* out, ItemFigures figures) {
  using namespace figures_detail;
  const std::uint64_t high = eight_figures(static_cast<std::uint32_t>(figures.q / 100000000));
  const std::uint64_t low = eight_figures(static_cast<std::uint32_t>(figures.q % 100000000));
  // q's first figure is not zero, so the trailing zeros stop before it.
  const int used = (low ^ kZeroFigures) != 0 ? 16 - std::countl_zero(low ^ kZeroFigures) / 8
                                             : 8 - std::countl_zero(high ^ kZeroFigures) / 8;
  return write_fixed(out, (static_cast<WideUnsigned>(low) << 64) | high, used, figures.x);
}

}  // namespace tarvel

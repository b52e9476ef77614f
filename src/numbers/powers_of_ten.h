// The powers of ten that reading and writing numbers both lean on, held once:
// 10^0 to 10^38 as 128-bit integers, with the views the fast paths index (the
// 64-bit ones and the exact doubles).
#pragma once

#include <array>
#include <cstdint>

#include "numbers/wide_unsigned.h"

namespace tarvel {

// 10^38 is the largest power of ten below 2^128.
inline constexpr int kMaxWidePower = 38;
// 10^19 is the largest below 2^64.
inline constexpr int kMax64BitPower = 19;
// 10^22 = 5^22 * 2^22 with 5^22 < 2^53 is the largest that is a double
// exactly: every higher one needs more significand bits.
inline constexpr int kMaxExactDoublePower = 22;

namespace powers_detail {

template <typename T, int kCount>
constexpr std::array<T, kCount> make_powers() {
  std::array<T, kCount> powers{};
  WideUnsigned value = 1;
  for (int p = 0; p < kCount; ++p) {
    powers[p] = static_cast<T>(value);
    value *= 10;
  }
  return powers;
}

constexpr std::array<int, kMaxWidePower + 1> make_bit_lengths() {
  std::array<int, kMaxWidePower + 1> lengths{};
  WideUnsigned value = 1;
  for (int p = 0; p <= kMaxWidePower; ++p) {
    for (WideUnsigned rest = value; rest != 0; rest >>= 1) ++lengths[p];
    value *= 10;
  }
  return lengths;
}

}  // namespace powers_detail

inline constexpr auto kWidePowersOfTen =
    powers_detail::make_powers<WideUnsigned, kMaxWidePower + 1>();
inline constexpr auto kWidePowerBitLengths = powers_detail::make_bit_lengths();
inline constexpr auto kPowersOfTen =
    powers_detail::make_powers<std::uint64_t, kMax64BitPower + 1>();
// Each converted from its integer exactly, as the constant 1eN would be.
inline constexpr auto kExactDoublePowersOfTen =
    powers_detail::make_powers<double, kMaxExactDoublePower + 1>();

static_assert(kExactDoublePowersOfTen[kMaxExactDoublePower] == 1e22);
static_assert(kPowersOfTen[kMax64BitPower] == 10000000000000000000ull);

}  // namespace tarvel

// The vector helpers whose code differs by processor family: the byte masks,
// the any-lane test of every width, and the conversions, whose special
// values (signed zeros, NaN, subnormals, overflow) must come out as the
// scalar conversions give them.
// The 32- and 64-byte vectors here never cross a call (the helpers are
// always inlined), so the ABI of passing them does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "runtime/simd.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tarvel {
namespace {

using Bytes = simd::Vec<std::uint8_t, 16>;

TEST(Simd, ByteMaskTakesEachByteTopBit) {
  struct Row {
    int set_byte;  // -1: none
    std::uint8_t value;
    std::uint32_t mask;
  };
  const Row rows[] = {
      {-1, 0, 0},        {0, 0xFF, 0x0001},  {7, 0x80, 0x0080},
      {8, 0xFF, 0x0100}, {15, 0xC0, 0x8000}, {3, 0x7F, 0},  // the top bit only
  };
  for (const Row& row : rows) {
    Bytes v{};
    if (row.set_byte >= 0) v[row.set_byte] = row.value;
    EXPECT_EQ(simd::byte_mask(v), row.mask) << "byte " << row.set_byte;
  }
  EXPECT_EQ(simd::byte_mask(simd::splat<Bytes>(0xFF)), 0xFFFFu);
}

// Always inlined, so that it takes the instructions of the function it is
// called from.
template <int bytes>
[[gnu::always_inline]] inline void expect_any_finds_every_lane() {
  using M = simd::Vec<std::int64_t, bytes / 8>;
  EXPECT_FALSE(simd::any(M{})) << bytes;
  for (int lane = 0; lane < bytes / 8; ++lane) {
    M mask{};
    mask[lane] = -1;
    EXPECT_TRUE(simd::any(mask)) << bytes << " bytes, lane " << lane;
    EXPECT_EQ(simd::lane_bits(mask), 1u << lane);
  }
}

#if TARVEL_SIMD_X86
// On x86 a 32-byte mask is tested in AVX code only.
TARVEL_TARGET_AVX2 void expect_any_finds_every_lane_of_32_bytes() {
  expect_any_finds_every_lane<32>();
}
#endif

TEST(Simd, AnyFindsEveryLaneAtEveryWidth) {
  expect_any_finds_every_lane<16>();
#if TARVEL_SIMD_X86
  if (__builtin_cpu_supports("avx2")) expect_any_finds_every_lane_of_32_bytes();
#else
  expect_any_finds_every_lane<32>();
#endif
  expect_any_finds_every_lane<64>();
  using Half = simd::Vec<std::int32_t, 2>;
  EXPECT_FALSE(simd::any(Half{}));
  EXPECT_TRUE(simd::any(Half{0, -1}));
}

template <int lanes>
void expect_conversions_as_scalar() {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const float floats[] = {0.0f, -0.0f, 1e-45f, -0x1p-126f, 3.4e38f, -kInf, 1.5f, -7.25f};
  const double doubles[] = {-0.0,        0x1p-150, 0x1.8p-149, 1 + 0x1p-24,
                            1 + 0x3p-25, 1e39,     -1e-50,     0x1.fffffff0p127};
  for (int first = 0; first < 8; first += lanes) {
    simd::Vec<float, lanes> f{};
    simd::Vec<double, lanes> d{};
    for (int i = 0; i < lanes; ++i) {
      f[i] = floats[first + i];
      d[i] = doubles[first + i];
    }
    const auto widened = simd::widen(f);
    const auto narrowed = simd::narrow(d);
    for (int i = 0; i < lanes; ++i) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(widened[i]),
                std::bit_cast<std::uint64_t>(static_cast<double>(f[i])))
          << lanes << " lanes, " << floats[first + i];
      EXPECT_EQ(std::bit_cast<std::uint32_t>(narrowed[i]),
                std::bit_cast<std::uint32_t>(static_cast<float>(d[i])))
          << lanes << " lanes, " << doubles[first + i];
    }
  }
  // NaN stays NaN, its sign kept.
  const auto nan = simd::widen(simd::splat<simd::Vec<float, lanes>>(-std::nanf("")));
  EXPECT_TRUE(std::isnan(nan[0]) && std::signbit(nan[lanes - 1]));
}

TEST(Simd, ConversionsGiveTheScalarBits) {
  expect_conversions_as_scalar<2>();
  expect_conversions_as_scalar<4>();
  expect_conversions_as_scalar<8>();
}

TEST(Simd, MagnitudeClearsOnlyTheSign) {
  using D = simd::Vec<double, 2>;
  const D v = simd::magnitude(D{-0.0, -std::numeric_limits<double>::quiet_NaN()});
  EXPECT_EQ(std::bit_cast<std::uint64_t>(v[0]), 0u);
  EXPECT_TRUE(std::isnan(v[1]) && !std::signbit(v[1]));
  EXPECT_EQ(simd::splat<D>(-0.0)[1], 0.0);
  EXPECT_TRUE(std::signbit(simd::splat<D>(-0.0)[1]));  // a plain broadcast keeps -0
}

}  // namespace
}  // namespace tarvel

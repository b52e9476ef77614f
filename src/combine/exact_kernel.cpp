// Vectors wider than 16 bytes never cross a call in this file (the kernel
// is inlined whole into the function of its width), so the ABI of passing
// them does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "combine/exact_kernel.h"

#include "runtime/simd.h"

namespace tarvel::detail {
namespace {

// Why the sums are exact: with hi = a, b (channel k) and c, d (channel l),
// lo = p, q and r, s, each in units of its grid, |a|, |b|, |c|, |d| <= 2^21
// and |p|, |q|, |r|, |s| <= 2^20. The real part of x(k)·conj(x(l)) is
// (a + p)(c + r) + (b + q)(d + s), the imaginary (b + q)(c + r) -
// (a + p)(d + s); each of its three pieces per sample is an integer in its
// unit of magnitude at most 2^43, so a block of 2^10 samples sums below 2^53,
// every partial sum exact in double.
template <int lanes, bool kWithLo>
[[gnu::always_inline]] inline void pair_sums(const SplitChannel& k, const SplitChannel& l,
                                             std::int64_t count, double sums[6]) {
  using V = simd::Vec<double, lanes>;
  V hh_r{}, hh_i{}, cross_r{}, cross_i{}, ll_r{}, ll_i{};
  for (std::int64_t n = 0; n < count; n += lanes) {
    const V a = simd::load<V>(k.hr + n);
    const V b = simd::load<V>(k.hi + n);
    const V c = simd::load<V>(l.hr + n);
    const V d = simd::load<V>(l.hi + n);
    hh_r += a * c + b * d;
    hh_i += b * c - a * d;
    if constexpr (kWithLo) {
      const V p = simd::load<V>(k.lr + n);
      const V q = simd::load<V>(k.li + n);
      const V r = simd::load<V>(l.lr + n);
      const V s = simd::load<V>(l.li + n);
      cross_r += (a * r + p * c) + (b * s + q * d);
      cross_i += (b * r + q * c) - (a * s + p * d);
      ll_r += p * r + q * s;
      ll_i += q * r - p * s;
    }
  }
  const V all[6] = {hh_r, hh_i, cross_r, cross_i, ll_r, ll_i};
  for (int i = 0; i < 6; ++i) {
    double sum = 0;
    for (int lane = 0; lane < lanes; ++lane) sum += all[i][lane];
    sums[i] = sum;
  }
}

template <int lanes>
[[gnu::always_inline]] inline void pair_sums_of(const SplitChannel& k, const SplitChannel& l,
                                                std::int64_t count, double sums[6]) {
  if (k.has_lo || l.has_lo) {
    pair_sums<lanes, true>(k, l, count, sums);
  } else {
    pair_sums<lanes, false>(k, l, count, sums);
  }
}

void pair_sums_scalar(const SplitChannel& k, const SplitChannel& l, std::int64_t count,
                      double sums[6]) {
  pair_sums_of<1>(k, l, count, sums);
}

void pair_sums_vector128(const SplitChannel& k, const SplitChannel& l, std::int64_t count,
                         double sums[6]) {
  pair_sums_of<2>(k, l, count, sums);
}

#if TARVEL_SIMD_X86
TARVEL_TARGET_AVX2 void pair_sums_vector256(const SplitChannel& k, const SplitChannel& l,
                                            std::int64_t count, double sums[6]) {
  pair_sums_of<4>(k, l, count, sums);
}
#endif

}  // namespace

void exact_pair_sums(SimdLevel level, const SplitChannel& k, const SplitChannel& l,
                     std::int64_t count, double sums[6]) {
  switch (level) {
    case SimdLevel::kScalar:
      return pair_sums_scalar(k, l, count, sums);
    case SimdLevel::kVector128:
      return pair_sums_vector128(k, l, count, sums);
    case SimdLevel::kVector256:
#if TARVEL_SIMD_X86
      return pair_sums_vector256(k, l, count, sums);
#else
      return pair_sums_vector128(k, l, count, sums);
#endif
  }
}

}  // namespace tarvel::detail

// Vectors wider than 16 bytes never cross a call in this file (the kernel
// is inlined whole into the function of its width), so the ABI of passing
// them does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "combine/combining_kernel.h"

#include <cstdint>
#include <limits>

#include "combine/extended_in_double.h"
#include "runtime/simd.h"

namespace tarvel::detail {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// One sample: in double when every step provably rounds as in extended
// precision, else in extended precision throughout.
inline void combine_one(const float* xr, const float* xi, const float* vr, const float* vi,
                        std::int64_t channels, float& yr, float& yi) {
  if (!combine_sample_in_double(xr, xi, vr, vi, channels, yr, yi)) {
    combine_sample_double_or_extended(xr, xi, vr, vi, channels, yr, yi);
  }
}

// The samples of one group whose lanes are flagged, again in extended
// precision.
[[gnu::noinline, gnu::cold]] void recombine_lanes(unsigned lanes, const float* xr, const float* xi,
                                                  std::int64_t channels, const float* vr,
                                                  const float* vi, float* yr, float* yi) {
  for (int lane = 0; lanes != 0; ++lane, lanes >>= 1) {
    if ((lanes & 1) != 0) {
      combine_sample_double_or_extended(xr + lane * channels, xi + lane * channels, vr, vi,
                                        channels, yr[lane], yi[lane]);
    }
  }
}

// All ones in the lanes where two_steps_round_alike(u1, u2, rounded) fails.
template <class D>
[[gnu::always_inline]] inline simd::MaskOf<D> differ_lanes(D u1, D u2, D rounded) {
  using M = simd::MaskOf<D>;
  const D size = simd::magnitude(u2);
  const D binade = simd::bits_as<D>(simd::bits_as<M>(u2) & simd::splat<M>(kExponentBits));
  const D slack = simd::magnitude(u2 - rounded) +
                  (simd::magnitude(u1) + size) * simd::splat<D>(kTwoStepErrorScale);
  return simd::but_not<M>(size < simd::splat<D>(kInfinity),
                          slack <= binade * simd::splat<D>(kHalfFloatGapScale));
}

// The samples kLanes at a time, one per lane, written once for every vector
// width; the samples after the last whole group one by one.
template <int kLanes>
[[gnu::always_inline]] inline void combine_vector(const float* xr, const float* xi,
                                                  std::int64_t samples, std::int64_t channels,
                                                  const float* vr, const float* vi, float* yr,
                                                  float* yi) {
  using D = simd::Vec<double, kLanes>;
  using F = simd::Vec<float, kLanes>;
  std::int64_t n = 0;
  for (; n + kLanes <= samples; n += kLanes) {
    const float* xrn = xr + n * channels;
    const float* xin = xi + n * channels;
    D sr{};
    D si{};
    simd::MaskOf<D> differ{};
    for (std::int64_t k = 0; k < channels; ++k) {
      const D xrk = simd::widen(simd::load_strided<F>(xrn + k, channels));
      const D xik = simd::widen(simd::load_strided<F>(xin + k, channels));
      const D vrk = simd::splat<D>(vr[k]);
      const D vik = simd::splat<D>(vi[k]);
      const D u1 = xrk * vrk + sr;
      const D u2 = u1 - xik * vik;
      sr = simd::widen(simd::narrow(u2));  // each running sum is stored in single
      const D w1 = xik * vrk + si;
      const D w2 = w1 + xrk * vik;
      si = simd::widen(simd::narrow(w2));
      differ =
          simd::either(differ, simd::either(differ_lanes(u1, u2, sr), differ_lanes(w1, w2, si)));
    }
    // The sums are floats, so narrowing them again gives them back exactly;
    // cheaper than keeping the floats live through the loop.
    simd::store(yr + n, simd::narrow(sr));
    simd::store(yi + n, simd::narrow(si));
    if (simd::any(differ)) {
      recombine_lanes(simd::lane_bits(differ), xrn, xin, channels, vr, vi, yr + n, yi + n);
    }
  }
  for (; n < samples; ++n) {
    combine_one(xr + n * channels, xi + n * channels, vr, vi, channels, yr[n], yi[n]);
  }
}

void combine_vector128(const float* xr, const float* xi, std::int64_t samples,
                       std::int64_t channels, const float* vr, const float* vi, float* yr,
                       float* yi) {
  combine_vector<2>(xr, xi, samples, channels, vr, vi, yr, yi);
}

#if TARVEL_SIMD_X86
TARVEL_TARGET_AVX2 void combine_vector256(const float* xr, const float* xi, std::int64_t samples,
                                          std::int64_t channels, const float* vr, const float* vi,
                                          float* yr, float* yi) {
  combine_vector<4>(xr, xi, samples, channels, vr, vi, yr, yi);
}

#endif

}  // namespace

void combine_samples(SimdLevel level, const float* xr, const float* xi, std::int64_t samples,
                     std::int64_t channels, const float* vr, const float* vi, float* yr,
                     float* yi) {
  switch (level) {
    case SimdLevel::kScalar:
      for (std::int64_t n = 0; n < samples; ++n) {
        combine_one(xr + n * channels, xi + n * channels, vr, vi, channels, yr[n], yi[n]);
      }
      return;
    case SimdLevel::kVector128:
      combine_vector128(xr, xi, samples, channels, vr, vi, yr, yi);
      return;
#if TARVEL_SIMD_X86
    case SimdLevel::kVector256:
      combine_vector256(xr, xi, samples, channels, vr, vi, yr, yi);
      return;
#else
    case SimdLevel::kVector256:
      combine_vector128(xr, xi, samples, channels, vr, vi, yr, yi);
      return;
#endif
  }
}

}  // namespace tarvel::detail

#include "combine/combining_kernel.h"

#include <immintrin.h>

#include <cstdint>
#include <limits>

#include "combine/extended_in_double.h"

namespace tarvel::detail {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// One sample: in double when every step provably rounds as in extended
// precision, else in extended precision throughout.
inline void combine_one(const float* xr, const float* xi, const float* vr, const float* vi,
                        std::int64_t channels, float& yr, float& yi) {
  if (!combine_sample_in_double(xr, xi, vr, vi, channels, yr, yi)) {
    combine_sample_extended(xr, xi, vr, vi, channels, yr, yi);
  }
}

// The samples of one group whose lanes are flagged, again in extended
// precision.
[[gnu::noinline, gnu::cold]] void recombine_lanes(int lanes, const float* xr, const float* xi,
                                                  std::int64_t channels, const float* vr,
                                                  const float* vi, float* yr, float* yi) {
  for (int lane = 0; lanes != 0; ++lane, lanes >>= 1) {
    if ((lanes & 1) != 0) {
      combine_sample_extended(xr + lane * channels, xi + lane * channels, vr, vi, channels,
                              yr[lane], yi[lane]);
    }
  }
}

// All ones in the lanes where two_steps_round_alike(u1, u2, rounded) fails.
inline __m128d differ_sse2(__m128d u1, __m128d u2, __m128d rounded) {
  const __m128d sign = _mm_set1_pd(-0.0);
  const __m128d size = _mm_andnot_pd(sign, u2);
  const __m128d binade = _mm_and_pd(u2, _mm_castsi128_pd(_mm_set1_epi64x(kExponentBits)));
  const __m128d slack = _mm_add_pd(
      _mm_andnot_pd(sign, _mm_sub_pd(u2, rounded)),
      _mm_mul_pd(_mm_add_pd(_mm_andnot_pd(sign, u1), size), _mm_set1_pd(kTwoStepErrorScale)));
  return _mm_and_pd(_mm_cmpnle_pd(slack, _mm_mul_pd(binade, _mm_set1_pd(kHalfFloatGapScale))),
                    _mm_cmplt_pd(size, _mm_set1_pd(kInfinity)));
}

void combine_sse2(const float* xr, const float* xi, std::int64_t samples, std::int64_t channels,
                  const float* vr, const float* vi, float* yr, float* yi) {
  constexpr std::int64_t kLanes = 2;
  std::int64_t n = 0;
  for (; n + kLanes <= samples; n += kLanes) {
    const float* xrn = xr + n * channels;
    const float* xin = xi + n * channels;
    __m128d sr = _mm_setzero_pd();
    __m128d si = _mm_setzero_pd();
    __m128 sr_single = _mm_setzero_ps();
    __m128 si_single = _mm_setzero_ps();
    __m128d differ = _mm_setzero_pd();
    for (std::int64_t k = 0; k < channels; ++k) {
      const __m128d xrk = _mm_set_pd(xrn[channels + k], xrn[k]);
      const __m128d xik = _mm_set_pd(xin[channels + k], xin[k]);
      const __m128d vrk = _mm_set1_pd(vr[k]);
      const __m128d vik = _mm_set1_pd(vi[k]);
      const __m128d u1 = _mm_add_pd(_mm_mul_pd(xrk, vrk), sr);
      const __m128d u2 = _mm_sub_pd(u1, _mm_mul_pd(xik, vik));
      sr_single = _mm_cvtpd_ps(u2);  // each running sum is stored in single
      sr = _mm_cvtps_pd(sr_single);
      const __m128d w1 = _mm_add_pd(_mm_mul_pd(xik, vrk), si);
      const __m128d w2 = _mm_add_pd(w1, _mm_mul_pd(xrk, vik));
      si_single = _mm_cvtpd_ps(w2);
      si = _mm_cvtps_pd(si_single);
      differ = _mm_or_pd(differ, _mm_or_pd(differ_sse2(u1, u2, sr), differ_sse2(w1, w2, si)));
    }
    _mm_storel_pi(reinterpret_cast<__m64*>(yr + n), sr_single);
    _mm_storel_pi(reinterpret_cast<__m64*>(yi + n), si_single);
    const int lanes = _mm_movemask_pd(differ);
    if (lanes != 0) recombine_lanes(lanes, xrn, xin, channels, vr, vi, yr + n, yi + n);
  }
  for (; n < samples; ++n) {
    combine_one(xr + n * channels, xi + n * channels, vr, vi, channels, yr[n], yi[n]);
  }
}

[[gnu::target("avx2")]] inline __m256d differ_avx2(__m256d u1, __m256d u2, __m256d rounded) {
  const __m256d sign = _mm256_set1_pd(-0.0);
  const __m256d size = _mm256_andnot_pd(sign, u2);
  const __m256d binade = _mm256_and_pd(u2, _mm256_castsi256_pd(_mm256_set1_epi64x(kExponentBits)));
  const __m256d slack = _mm256_add_pd(_mm256_andnot_pd(sign, _mm256_sub_pd(u2, rounded)),
                                      _mm256_mul_pd(_mm256_add_pd(_mm256_andnot_pd(sign, u1), size),
                                                    _mm256_set1_pd(kTwoStepErrorScale)));
  return _mm256_and_pd(
      _mm256_cmp_pd(slack, _mm256_mul_pd(binade, _mm256_set1_pd(kHalfFloatGapScale)), _CMP_NLE_UQ),
      _mm256_cmp_pd(size, _mm256_set1_pd(kInfinity), _CMP_LT_OQ));
}

// x[0], x[stride], x[2·stride], x[3·stride], widened.
[[gnu::target("avx2")]] inline __m256d strided_avx2(const float* x, std::int64_t stride) {
  return _mm256_cvtps_pd(_mm_set_ps(x[3 * stride], x[2 * stride], x[stride], x[0]));
}

[[gnu::target("avx2")]] void combine_avx2(const float* xr, const float* xi, std::int64_t samples,
                                          std::int64_t channels, const float* vr, const float* vi,
                                          float* yr, float* yi) {
  constexpr std::int64_t kLanes = 4;
  std::int64_t n = 0;
  for (; n + kLanes <= samples; n += kLanes) {
    const float* xrn = xr + n * channels;
    const float* xin = xi + n * channels;
    __m256d sr = _mm256_setzero_pd();
    __m256d si = _mm256_setzero_pd();
    __m128 sr_single = _mm_setzero_ps();
    __m128 si_single = _mm_setzero_ps();
    __m256d differ = _mm256_setzero_pd();
    for (std::int64_t k = 0; k < channels; ++k) {
      const __m256d xrk = strided_avx2(xrn + k, channels);
      const __m256d xik = strided_avx2(xin + k, channels);
      const __m256d vrk = _mm256_set1_pd(vr[k]);
      const __m256d vik = _mm256_set1_pd(vi[k]);
      const __m256d u1 = _mm256_add_pd(_mm256_mul_pd(xrk, vrk), sr);
      const __m256d u2 = _mm256_sub_pd(u1, _mm256_mul_pd(xik, vik));
      sr_single = _mm256_cvtpd_ps(u2);  // each running sum is stored in single
      sr = _mm256_cvtps_pd(sr_single);
      const __m256d w1 = _mm256_add_pd(_mm256_mul_pd(xik, vrk), si);
      const __m256d w2 = _mm256_add_pd(w1, _mm256_mul_pd(xrk, vik));
      si_single = _mm256_cvtpd_ps(w2);
      si = _mm256_cvtps_pd(si_single);
      differ = _mm256_or_pd(differ, _mm256_or_pd(differ_avx2(u1, u2, sr), differ_avx2(w1, w2, si)));
    }
    _mm_storeu_ps(yr + n, sr_single);
    _mm_storeu_ps(yi + n, si_single);
    const int lanes = _mm256_movemask_pd(differ);
    if (lanes != 0) recombine_lanes(lanes, xrn, xin, channels, vr, vi, yr + n, yi + n);
  }
  for (; n < samples; ++n) {
    combine_one(xr + n * channels, xi + n * channels, vr, vi, channels, yr[n], yi[n]);
  }
}

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
    case SimdLevel::kSse2:
      combine_sse2(xr, xi, samples, channels, vr, vi, yr, yi);
      return;
    case SimdLevel::kAvx2:
      combine_avx2(xr, xi, samples, channels, vr, vi, yr, yi);
      return;
  }
}

}  // namespace tarvel::detail

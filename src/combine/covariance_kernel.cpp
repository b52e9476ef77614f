#include "combine/covariance_kernel.h"

#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "combine/extended_in_double.h"

namespace tarvel::detail {
namespace {

// Columns per vector step and rows per group, and columns whose c and d sit
// in the stack buffer at a time (a multiple of kChunk, so every block starts
// a chunk).
constexpr std::int64_t kChunk = 4;
constexpr std::int64_t kBlock = 256;

// Why the element formulas may be evaluated as they are below:
//
// - a, b, c, d and every running sum are single subtractions and additions:
//   an exact sum of two floats rounded to 64 bits and then to 24 gives the
//   float the direct rounding gives, as 64 >= 2·24 + 2. d is negated after
//   rounding, as written, so xi = mi gives -0.
// - The vector rows take a row's values as a and d' = -b (its own c and d),
//   and evaluate e = c·a + d·d' and f = d·a - c·d'. As d·d' = -(d·b) and
//   c·d' = -(c·b) exactly, signs of zeros included, and x - y is x + (-y),
//   these are c·a - d·b and d·a + c·b, operation for operation; the sum
//   d·a + c·b is c·b + d·a, as addition commutes in every case.
// - e and f: see product_difference in extended_in_double.h.

// c and d of one block of columns of one sample, widened to double.
struct Columns {
  alignas(32) double c[kBlock];
  alignas(32) double d[kBlock];
};

// a and d' = -b of the kChunk rows of a group, widened to double.
struct RowGroup {
  alignas(32) double a[kChunk];
  alignas(32) double d[kChunk];
};

// One element (k, l) of one sample in the written form.
inline void accumulate_element(float a, float b, float c, float d, float& rr, float& ri) {
  rr = product_difference(c, a, d, b) + rr;
  ri = product_sum(c, b, d, a) + ri;
}

// One chunk of one row whose double results might round differently, in
// extended precision.
[[gnu::noinline, gnu::cold]] void accumulate_chunk_extended(double row_a, double row_d,
                                                            const double* c, const double* d,
                                                            float* rr, float* ri) {
  const auto a = static_cast<float>(row_a);  // exact: these were floats
  const auto b = -static_cast<float>(row_d);
  for (std::int64_t i = 0; i < kChunk; ++i) {
    const auto ci = static_cast<float>(c[i]);
    const auto di = static_cast<float>(d[i]);
    rr[i] = extended_product_difference(ci, a, di, b) + rr[i];
    ri[i] = extended_product_sum(ci, b, di, a) + ri[i];
  }
}

// The row kernels. fill: c and d of `count` columns into c_out, d_out, returning
// whether all are coarse. run: for one sample, a group of kChunk rows (rr, ri
// at its first row, rows `stride` apart) and `count` columns (a multiple of
// kChunk) from c, d on. kCoarse: every operand is coarse, so no result lies
// below the normal float range.

struct ScalarRows {
  static bool fill(const float* xr, const float* xi, const float* mr, const float* mi,
                   std::int64_t count, double* c_out, double* d_out) {
    bool coarse = true;
    for (std::int64_t l = 0; l < count; ++l) {
      const float c = xr[l] - mr[l];
      const float d = -(xi[l] - mi[l]);
      c_out[l] = c;
      d_out[l] = d;
      coarse &= is_coarse(c);
      coarse &= is_coarse(d);
    }
    return coarse;
  }

  template <bool kCoarse>
  static void run(const RowGroup& rows, const double* c, const double* d, std::int64_t count,
                  float* rr, float* ri, std::int64_t stride) {
    for (std::int64_t r = 0; r < kChunk; ++r) {
      const auto a = static_cast<float>(rows.a[r]);
      const auto b = -static_cast<float>(rows.d[r]);
      for (std::int64_t i = 0; i < count; ++i) {
        accumulate_element(a, b, static_cast<float>(c[i]), static_cast<float>(d[i]),
                           rr[r * stride + i], ri[r * stride + i]);
      }
    }
  }
};

// A lane is all ones where h is a float midpoint. The high halves of the
// 64-bit lanes are masked to 0 and compared with all ones, so they never
// match.
inline __m128i midpoints_sse2(__m128d h) {
  constexpr int kBelowFloat32 = static_cast<int>(kBelowFloatBits);
  constexpr int kMidpoint32 = static_cast<int>(kFloatMidpointBits);
  const __m128i below = _mm_set_epi32(0, kBelowFloat32, 0, kBelowFloat32);
  const __m128i midpoint = _mm_set_epi32(-1, kMidpoint32, -1, kMidpoint32);
  return _mm_cmpeq_epi32(_mm_and_si128(_mm_castpd_si128(h), below), midpoint);
}

// All ones where h is non-zero and below the normal float range.
inline __m128i tiny_sse2(__m128d h) {
  const __m128d size = _mm_andnot_pd(_mm_set1_pd(-0.0), h);
  return _mm_castpd_si128(_mm_and_pd(_mm_cmplt_pd(size, _mm_set1_pd(kSmallestNormalFloat)),
                                     _mm_cmpgt_pd(size, _mm_setzero_pd())));
}

// All ones where v is not coarse.
inline __m128 fine_sse2(__m128 v) {
  const __m128 size = _mm_andnot_ps(_mm_set1_ps(-0.0f), v);
  return _mm_and_ps(_mm_cmplt_ps(size, _mm_set1_ps(kSmallestCoarseFloat)),
                    _mm_cmpgt_ps(size, _mm_setzero_ps()));
}

// c and d of columns l..l+3, stored whole so that the vector loads of the
// rows get them forwarded; returns the lanes that are not coarse.
inline __m128 fill_chunk_sse2(const float* xr, const float* xi, const float* mr, const float* mi,
                              std::int64_t l, double* c_out, double* d_out) {
  const __m128 c = _mm_sub_ps(_mm_loadu_ps(xr + l), _mm_loadu_ps(mr + l));
  const __m128 d =
      _mm_xor_ps(_mm_sub_ps(_mm_loadu_ps(xi + l), _mm_loadu_ps(mi + l)), _mm_set1_ps(-0.0f));
  _mm_store_pd(c_out + l, _mm_cvtps_pd(c));
  _mm_store_pd(c_out + l + 2, _mm_cvtps_pd(_mm_movehl_ps(c, c)));
  _mm_store_pd(d_out + l, _mm_cvtps_pd(d));
  _mm_store_pd(d_out + l + 2, _mm_cvtps_pd(_mm_movehl_ps(d, d)));
  return _mm_or_ps(fine_sse2(c), fine_sse2(d));
}

struct Sse2Rows {
  static bool fill(const float* xr, const float* xi, const float* mr, const float* mi,
                   std::int64_t count, double* c_out, double* d_out) {
    __m128 fine = _mm_setzero_ps();
    std::int64_t l = 0;
    for (; l + 4 <= count; l += 4) {
      fine = _mm_or_ps(fine, fill_chunk_sse2(xr, xi, mr, mi, l, c_out, d_out));
    }
    const bool coarse = _mm_movemask_ps(fine) == 0;
    return ScalarRows::fill(xr + l, xi + l, mr + l, mi + l, count - l, c_out + l, d_out + l) &&
           coarse;
  }

  template <bool kCoarse>
  static void run(const RowGroup& rows, const double* c, const double* d, std::int64_t count,
                  float* rr, float* ri, std::int64_t stride) {
    for (std::int64_t i = 0; i < count; i += kChunk) {
      const __m128d c0 = _mm_load_pd(c + i);
      const __m128d c1 = _mm_load_pd(c + i + 2);
      const __m128d d0 = _mm_load_pd(d + i);
      const __m128d d1 = _mm_load_pd(d + i + 2);
      for (std::int64_t r = 0; r < kChunk; ++r) {
        const __m128d av = _mm_set1_pd(rows.a[r]);
        const __m128d dv = _mm_set1_pd(rows.d[r]);
        const __m128d e0 = _mm_add_pd(_mm_mul_pd(c0, av), _mm_mul_pd(d0, dv));
        const __m128d e1 = _mm_add_pd(_mm_mul_pd(c1, av), _mm_mul_pd(d1, dv));
        const __m128d f0 = _mm_sub_pd(_mm_mul_pd(d0, av), _mm_mul_pd(c0, dv));
        const __m128d f1 = _mm_sub_pd(_mm_mul_pd(d1, av), _mm_mul_pd(c1, dv));
        __m128i flags = _mm_or_si128(_mm_or_si128(midpoints_sse2(e0), midpoints_sse2(e1)),
                                     _mm_or_si128(midpoints_sse2(f0), midpoints_sse2(f1)));
        if constexpr (!kCoarse) {
          flags = _mm_or_si128(flags, _mm_or_si128(_mm_or_si128(tiny_sse2(e0), tiny_sse2(e1)),
                                                   _mm_or_si128(tiny_sse2(f0), tiny_sse2(f1))));
        }
        float* rrr = rr + r * stride + i;
        float* rir = ri + r * stride + i;
        if (_mm_movemask_epi8(flags) != 0) {
          accumulate_chunk_extended(rows.a[r], rows.d[r], c + i, d + i, rrr, rir);
          continue;
        }
        const __m128 e = _mm_movelh_ps(_mm_cvtpd_ps(e0), _mm_cvtpd_ps(e1));
        const __m128 f = _mm_movelh_ps(_mm_cvtpd_ps(f0), _mm_cvtpd_ps(f1));
        _mm_storeu_ps(rrr, _mm_add_ps(e, _mm_loadu_ps(rrr)));
        _mm_storeu_ps(rir, _mm_add_ps(f, _mm_loadu_ps(rir)));
      }
    }
  }
};

[[gnu::target("avx2")]] inline __m256i midpoints_avx2(__m256d h) {
  const __m256i below = _mm256_set1_epi64x(kBelowFloatBits);
  const __m256i midpoint = _mm256_set1_epi64x(kFloatMidpointBits);
  return _mm256_cmpeq_epi64(_mm256_and_si256(_mm256_castpd_si256(h), below), midpoint);
}

[[gnu::target("avx2")]] inline __m256i tiny_avx2(__m256d h) {
  const __m256d size = _mm256_andnot_pd(_mm256_set1_pd(-0.0), h);
  return _mm256_castpd_si256(
      _mm256_and_pd(_mm256_cmp_pd(size, _mm256_set1_pd(kSmallestNormalFloat), _CMP_LT_OQ),
                    _mm256_cmp_pd(size, _mm256_setzero_pd(), _CMP_GT_OQ)));
}

[[gnu::target("avx2")]] inline __m256 fine_avx2(__m256 v) {
  const __m256 size = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), v);
  return _mm256_and_ps(_mm256_cmp_ps(size, _mm256_set1_ps(kSmallestCoarseFloat), _CMP_LT_OQ),
                       _mm256_cmp_ps(size, _mm256_setzero_ps(), _CMP_GT_OQ));
}

struct Avx2Rows {
  [[gnu::target("avx2")]] static bool fill(const float* xr, const float* xi, const float* mr,
                                           const float* mi, std::int64_t count, double* c_out,
                                           double* d_out) {
    __m256 fine = _mm256_setzero_ps();
    std::int64_t l = 0;
    for (; l + 8 <= count; l += 8) {
      const __m256 c = _mm256_sub_ps(_mm256_loadu_ps(xr + l), _mm256_loadu_ps(mr + l));
      const __m256 d = _mm256_xor_ps(
          _mm256_sub_ps(_mm256_loadu_ps(xi + l), _mm256_loadu_ps(mi + l)), _mm256_set1_ps(-0.0f));
      _mm256_store_pd(c_out + l, _mm256_cvtps_pd(_mm256_castps256_ps128(c)));
      _mm256_store_pd(c_out + l + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(c, 1)));
      _mm256_store_pd(d_out + l, _mm256_cvtps_pd(_mm256_castps256_ps128(d)));
      _mm256_store_pd(d_out + l + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(d, 1)));
      fine = _mm256_or_ps(fine, _mm256_or_ps(fine_avx2(c), fine_avx2(d)));
    }
    bool coarse = _mm256_movemask_ps(fine) == 0;
    if (l + 4 <= count) {
      const __m256d c = _mm256_cvtps_pd(_mm_sub_ps(_mm_loadu_ps(xr + l), _mm_loadu_ps(mr + l)));
      const __m128 b = _mm_sub_ps(_mm_loadu_ps(xi + l), _mm_loadu_ps(mi + l));
      const __m128 d = _mm_xor_ps(b, _mm_set1_ps(-0.0f));
      _mm256_store_pd(c_out + l, c);
      _mm256_store_pd(d_out + l, _mm256_cvtps_pd(d));
      coarse =
          coarse && _mm_movemask_ps(_mm_or_ps(fine_sse2(_mm256_cvtpd_ps(c)), fine_sse2(d))) == 0;
      l += 4;
    }
    return ScalarRows::fill(xr + l, xi + l, mr + l, mi + l, count - l, c_out + l, d_out + l) &&
           coarse;
  }

  template <bool kCoarse>
  [[gnu::target("avx2")]] static void run(const RowGroup& rows, const double* c, const double* d,
                                          std::int64_t count, float* rr, float* ri,
                                          std::int64_t stride) {
    for (std::int64_t i = 0; i < count; i += kChunk) {
      const __m256d cv = _mm256_load_pd(c + i);
      const __m256d dv = _mm256_load_pd(d + i);
      for (std::int64_t r = 0; r < kChunk; ++r) {
        const __m256d ar = _mm256_broadcast_sd(rows.a + r);
        const __m256d dr = _mm256_broadcast_sd(rows.d + r);
        const __m256d e = _mm256_add_pd(_mm256_mul_pd(cv, ar), _mm256_mul_pd(dv, dr));
        const __m256d f = _mm256_sub_pd(_mm256_mul_pd(dv, ar), _mm256_mul_pd(cv, dr));
        __m256i flags = _mm256_or_si256(midpoints_avx2(e), midpoints_avx2(f));
        if constexpr (!kCoarse) {
          flags = _mm256_or_si256(flags, _mm256_or_si256(tiny_avx2(e), tiny_avx2(f)));
        }
        float* rrr = rr + r * stride + i;
        float* rir = ri + r * stride + i;
        if (!_mm256_testz_si256(flags, flags)) {
          accumulate_chunk_extended(rows.a[r], rows.d[r], c + i, d + i, rrr, rir);
          continue;
        }
        _mm_storeu_ps(rrr, _mm_add_ps(_mm256_cvtpd_ps(e), _mm_loadu_ps(rrr)));
        _mm_storeu_ps(rir, _mm_add_ps(_mm256_cvtpd_ps(f), _mm_loadu_ps(rir)));
      }
    }
  }
};

// Fewer channels than a chunk: every element on its own, the sums of one
// sample kept in locals across samples.
template <std::int64_t kChannels>
[[gnu::always_inline]] inline void accumulate_few(const float* xr, const float* xi,
                                                  std::int64_t samples, const float* mr,
                                                  const float* mi, float* rr, float* ri) {
  float sum_r[kChannels * kChannels];
  float sum_i[kChannels * kChannels];
  for (std::int64_t i = 0; i < kChannels * kChannels; ++i) {
    sum_r[i] = rr[i];
    sum_i[i] = ri[i];
  }
  for (std::int64_t n = 0; n < samples; ++n) {
    float a[kChannels];
    float b[kChannels];
    for (std::int64_t k = 0; k < kChannels; ++k) {
      a[k] = xr[n * kChannels + k] - mr[k];
      b[k] = xi[n * kChannels + k] - mi[k];
    }
    for (std::int64_t k = 0; k < kChannels; ++k) {
      for (std::int64_t l = k; l < kChannels; ++l) {
        accumulate_element(a[k], b[k], a[l], -b[l], sum_r[k * kChannels + l],
                           sum_i[k * kChannels + l]);
      }
    }
  }
  for (std::int64_t i = 0; i < kChannels * kChannels; ++i) {
    rr[i] = sum_r[i];
    ri[i] = sum_i[i];
  }
}

// The loop over samples, blocks of columns and groups of rows, shared by the
// levels. For one sample the elements are independent, so they are visited in
// any order; each one still receives its samples in order. A group of rows
// starts at the chunk that holds its first row, so a few elements below the
// diagonal come along; the columns after the last whole chunk go one by one
// from the diagonal on.
template <class Rows>
[[gnu::always_inline]] inline void accumulate_sums(const float* xr, const float* xi,
                                                   std::int64_t samples, std::int64_t channels,
                                                   const float* mr, const float* mi, float* rr,
                                                   float* ri) {
  switch (channels) {
    case 1:
      return accumulate_few<1>(xr, xi, samples, mr, mi, rr, ri);
    case 2:
      return accumulate_few<2>(xr, xi, samples, mr, mi, rr, ri);
    case 3:
      return accumulate_few<3>(xr, xi, samples, mr, mi, rr, ri);
    default:
      break;
  }
  Columns columns;
  RowGroup rows;
  for (std::int64_t n = 0; n < samples; ++n) {
    const float* xrn = xr + n * channels;
    const float* xin = xi + n * channels;
    bool coarse = true;  // every a, b, c, d met so far in this sample
    for (std::int64_t first = 0; first < channels; first += kBlock) {
      const std::int64_t last = std::min(channels, first + kBlock);
      coarse = Rows::fill(xrn + first, xin + first, mr + first, mi + first, last - first, columns.c,
                          columns.d) &&
               coarse;
      const std::int64_t chunks_end = first + ((last - first) / kChunk) * kChunk;
      // The rows of a group are columns this block or an earlier one has
      // checked for coarseness.
      for (std::int64_t k0 = 0; k0 < chunks_end; k0 += kChunk) {
        for (std::int64_t r = 0; r < kChunk; ++r) {
          if (k0 >= first) {
            rows.a[r] = columns.c[k0 - first + r];
            rows.d[r] = columns.d[k0 - first + r];
          } else {
            rows.a[r] = xrn[k0 + r] - mr[k0 + r];
            rows.d[r] = -(xin[k0 + r] - mi[k0 + r]);
          }
        }
        const std::int64_t begin = std::max(first, k0);
        const double* c = columns.c + (begin - first);
        const double* d = columns.d + (begin - first);
        float* rrk = rr + k0 * channels + begin;
        float* rik = ri + k0 * channels + begin;
        if (coarse) {
          Rows::template run<true>(rows, c, d, chunks_end - begin, rrk, rik, channels);
        } else {
          Rows::template run<false>(rows, c, d, chunks_end - begin, rrk, rik, channels);
        }
      }
      for (std::int64_t k = 0; k < last && chunks_end < last; ++k) {
        const float a = xrn[k] - mr[k];
        const float b = xin[k] - mi[k];
        for (std::int64_t l = std::max(k, chunks_end); l < last; ++l) {
          accumulate_element(a, b, static_cast<float>(columns.c[l - first]),
                             static_cast<float>(columns.d[l - first]), rr[k * channels + l],
                             ri[k * channels + l]);
        }
      }
    }
  }
}

void accumulate_scalar(const float* xr, const float* xi, std::int64_t samples,
                       std::int64_t channels, const float* mr, const float* mi, float* rr,
                       float* ri) {
  accumulate_sums<ScalarRows>(xr, xi, samples, channels, mr, mi, rr, ri);
}

void accumulate_sse2(const float* xr, const float* xi, std::int64_t samples, std::int64_t channels,
                     const float* mr, const float* mi, float* rr, float* ri) {
  accumulate_sums<Sse2Rows>(xr, xi, samples, channels, mr, mi, rr, ri);
}

[[gnu::target("avx2")]] void accumulate_avx2(const float* xr, const float* xi, std::int64_t samples,
                                             std::int64_t channels, const float* mr,
                                             const float* mi, float* rr, float* ri) {
  accumulate_sums<Avx2Rows>(xr, xi, samples, channels, mr, mi, rr, ri);
}

}  // namespace

void accumulate_covariance_sums(SimdLevel level, const float* xr, const float* xi,
                                std::int64_t samples, std::int64_t channels, const float* mr,
                                const float* mi, float* rr, float* ri) {
  switch (level) {
    case SimdLevel::kScalar:
      accumulate_scalar(xr, xi, samples, channels, mr, mi, rr, ri);
      return;
    case SimdLevel::kSse2:
      accumulate_sse2(xr, xi, samples, channels, mr, mi, rr, ri);
      return;
    case SimdLevel::kAvx2:
      accumulate_avx2(xr, xi, samples, channels, mr, mi, rr, ri);
      return;
  }
}

}  // namespace tarvel::detail

// Vectors wider than 16 bytes never cross a call in this file (the kernel
// is inlined whole into the function of its width), so the ABI of passing
// them does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

#include "combine/covariance_kernel.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "combine/extended_in_double.h"
#include "runtime/simd.h"

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
[[gnu::noinline, gnu::cold]] void accumulate_chunk_extended(const RowGroup& rows, std::int64_t r,
                                                            const double* c, const double* d,
                                                            float* rr, float* ri) {
  const auto a = static_cast<float>(rows.a[r]);  // exact: these were floats
  const auto b = -static_cast<float>(rows.d[r]);
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
                  float* rr, float* ri, std::int64_t stride, const CovarianceRows& share,
                  std::int64_t k0) {
    for (std::int64_t r = 0; r < kChunk; ++r) {
      if (!share.has(k0 + r)) continue;
      const auto a = static_cast<float>(rows.a[r]);
      const auto b = -static_cast<float>(rows.d[r]);
      for (std::int64_t i = 0; i < count; ++i) {
        accumulate_element(a, b, static_cast<float>(c[i]), static_cast<float>(d[i]),
                           rr[r * stride + i], ri[r * stride + i]);
      }
    }
  }
};

// The vector kernels, written once for vectors of kWidth doubles (2 for SSE2
// and NEON, 4 for AVX2): a chunk of kChunk columns is kChunk / kWidth
// vectors.

// All ones in a 32-bit lane of h where its double is a float midpoint. The
// 29 low bits of a double are compared in the low 32-bit half of it (the
// half that holds them, whatever the byte order, as the patterns are laid
// out like h); the high halves are masked to 0 and compared with all ones,
// so they never match.
template <class D>
[[gnu::always_inline]] inline auto midpoints(D h) {
  using Words = simd::Vec<std::int32_t, 2 * simd::kLanes<D>>;
  using Doublewords = simd::Vec<std::uint64_t, simd::kLanes<D>>;
  const auto below = simd::bits_as<Words>(simd::splat<Doublewords>(kBelowFloatBits));
  const auto midpoint =
      simd::bits_as<Words>(simd::splat<Doublewords>(0xFFFFFFFF00000000 | kFloatMidpointBits));
  return simd::bits_as<simd::MaskOf<D>>((simd::bits_as<Words>(h) & below) == midpoint);
}

// All ones where h is non-zero and below the normal float range.
template <class D>
[[gnu::always_inline]] inline simd::MaskOf<D> tiny(D h) {
  const D size = simd::magnitude(h);
  return simd::both<simd::MaskOf<D>>(size<simd::splat<D>(kSmallestNormalFloat), size> D{});
}

// All ones where v is not coarse.
template <class F>
[[gnu::always_inline]] inline simd::MaskOf<F> fine(F v) {
  const F size = simd::magnitude(v);
  return simd::both<simd::MaskOf<F>>(size<simd::splat<F>(kSmallestCoarseFloat), size> F{});
}

// Lanes first .. first + lanes - 1 of v.
template <int first, int lanes, class V>
[[gnu::always_inline]] inline simd::Vec<simd::Lane<V>, lanes> part(V v) {
  using Part = simd::Vec<simd::Lane<V>, lanes>;
  if constexpr (sizeof(Part) == 8) {
    // As one 64-bit lane: taken lane by lane, the upper half of a vector is
    // also converted lane by lane.
    const auto words = simd::bits_as<simd::Vec<double, sizeof(V) / 8>>(v);
    return std::bit_cast<Part>(words[first * sizeof(simd::Lane<V>) / 8]);
  } else {
    return [&]<std::size_t... i>(std::index_sequence<i...>) TARVEL_INLINE_LAMBDA {
      return Part{v[first + i]...};
    }
    (std::make_index_sequence<lanes>());
  }
}

// The floats of v, in vectors of kWidth doubles, to `out`.
template <int kWidth, class F>
[[gnu::always_inline]] inline void store_widened(double* out, F v) {
  [&]<std::size_t... p>(std::index_sequence<p...>) TARVEL_INLINE_LAMBDA {
    const auto wide = __builtin_convertvector(v, simd::Vec<double, simd::kLanes<F>>);
    (simd::store(out + p * kWidth, part<p * kWidth, kWidth>(wide)), ...);
  }
  (std::make_index_sequence<simd::kLanes<F> / kWidth>());
}

template <int kWidth>
struct VectorRows {
  using D = simd::Vec<double, kWidth>;
  static constexpr int kParts = kChunk / kWidth;

  // c and d of `lanes` columns from l on, stored whole so that the vector
  // loads of the rows get them forwarded; returns the lanes that are not
  // coarse.
  template <int lanes>
  [[gnu::always_inline]] static auto fill_step(const float* xr, const float* xi, const float* mr,
                                               const float* mi, std::int64_t l, double* c_out,
                                               double* d_out) {
    using F = simd::Vec<float, lanes>;
    const F c = simd::load<F>(xr + l) - simd::load<F>(mr + l);
    const F d = -(simd::load<F>(xi + l) - simd::load<F>(mi + l));
    store_widened<kWidth>(c_out + l, c);
    store_widened<kWidth>(d_out + l, d);
    return simd::either(fine(c), fine(d));
  }

  [[gnu::always_inline]] static bool fill(const float* xr, const float* xi, const float* mr,
                                          const float* mi, std::int64_t count, double* c_out,
                                          double* d_out) {
    // A whole vector of floats at a time, then one chunk.
    constexpr int kLanes = std::max<int>(2 * kWidth, kChunk);
    simd::MaskOf<simd::Vec<float, kLanes>> fine_lanes{};
    std::int64_t l = 0;
    for (; l + kLanes <= count; l += kLanes) {
      fine_lanes = simd::either(fine_lanes, fill_step<kLanes>(xr, xi, mr, mi, l, c_out, d_out));
    }
    bool coarse = !simd::any(fine_lanes);
    if constexpr (kLanes > kChunk) {
      if (l + kChunk <= count) {
        coarse = !simd::any(fill_step<kChunk>(xr, xi, mr, mi, l, c_out, d_out)) && coarse;
        l += kChunk;
      }
    }
    return ScalarRows::fill(xr + l, xi + l, mr + l, mi + l, count - l, c_out + l, d_out + l) &&
           coarse;
  }

  template <bool kCoarse>
  [[gnu::always_inline]] static void run(const RowGroup& rows, const double* c, const double* d,
                                         std::int64_t count, float* rr, float* ri,
                                         std::int64_t stride, const CovarianceRows& share,
                                         std::int64_t k0) {
    using Chunk = simd::Vec<float, kChunk>;
    for (std::int64_t i = 0; i < count; i += kChunk) {
      D cv[kParts];
      D dv[kParts];
      for (int p = 0; p < kParts; ++p) {
        cv[p] = simd::load<D>(c + i + p * kWidth);
        dv[p] = simd::load<D>(d + i + p * kWidth);
      }
      for (std::int64_t r = 0; r < kChunk; ++r) {
        if (!share.has(k0 + r)) continue;
        const D ar = simd::splat<D>(rows.a[r]);
        const D dr = simd::splat<D>(rows.d[r]);
        D e[kParts];
        D f[kParts];
        simd::MaskOf<D> flags{};
        for (int p = 0; p < kParts; ++p) {
          e[p] = cv[p] * ar + dv[p] * dr;
          f[p] = dv[p] * ar - cv[p] * dr;
          flags = simd::either(flags, simd::either(midpoints(e[p]), midpoints(f[p])));
          if constexpr (!kCoarse) {
            flags = simd::either(flags, simd::either(tiny(e[p]), tiny(f[p])));
          }
        }
        float* rrr = rr + r * stride + i;
        float* rir = ri + r * stride + i;
        if (simd::any(flags)) {
          accumulate_chunk_extended(rows, r, c + i, d + i, rrr, rir);
          continue;
        }
        const auto narrowed = [](const D(&h)[kParts]) TARVEL_INLINE_LAMBDA {
          return [&]<std::size_t... j>(std::index_sequence<j...>) TARVEL_INLINE_LAMBDA {
            return simd::narrow(simd::Vec<double, kChunk>{h[j / kWidth][j % kWidth]...});
          }
          (std::make_index_sequence<kChunk>());
        };
        simd::store(rrr, narrowed(e) + simd::load<Chunk>(rrr));
        simd::store(rir, narrowed(f) + simd::load<Chunk>(rir));
      }
    }
  }
};

// Fewer channels than a chunk: every element on its own, the sums of one
// sample kept in locals across samples.
template <std::int64_t kChannels>
[[gnu::always_inline]] inline void accumulate_few(const float* xr, const float* xi,
                                                  std::int64_t samples, const float* mr,
                                                  const float* mi, float* rr, float* ri,
                                                  const CovarianceRows& share) {
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
      if (!share.has(k)) continue;
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
                                                   float* ri, const CovarianceRows& share) {
  switch (channels) {
    case 1:
      return accumulate_few<1>(xr, xi, samples, mr, mi, rr, ri, share);
    case 2:
      return accumulate_few<2>(xr, xi, samples, mr, mi, rr, ri, share);
    case 3:
      return accumulate_few<3>(xr, xi, samples, mr, mi, rr, ri, share);
    default:
      break;
  }
  Columns columns;
  RowGroup rows;
  // A share of the rows needs the columns from its first group on only:
  // the elements are those on and above the diagonal.
  const std::int64_t first_group = std::min(share.first, channels) / kChunk * kChunk;
  const std::int64_t groups_end = (std::min(share.last, channels) + kChunk - 1) / kChunk * kChunk;
  for (std::int64_t n = 0; n < samples; ++n) {
    const float* xrn = xr + n * channels;
    const float* xin = xi + n * channels;
    bool coarse = true;  // every a, b, c, d met so far in this sample
    for (std::int64_t first = 0; first < channels; first += kBlock) {
      const std::int64_t last = std::min(channels, first + kBlock);
      if (last <= first_group) continue;
      const std::int64_t from = std::max(first, first_group);
      coarse = Rows::fill(xrn + from, xin + from, mr + from, mi + from, last - from,
                          columns.c + (from - first), columns.d + (from - first)) &&
               coarse;
      const std::int64_t chunks_end = first + ((last - first) / kChunk) * kChunk;
      // The rows of a group are columns this block or an earlier one has
      // checked for coarseness.
      for (std::int64_t k0 = first_group; k0 < std::min(chunks_end, groups_end); k0 += kChunk) {
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
          Rows::template run<true>(rows, c, d, chunks_end - begin, rrk, rik, channels, share, k0);
        } else {
          Rows::template run<false>(rows, c, d, chunks_end - begin, rrk, rik, channels, share, k0);
        }
      }
      for (std::int64_t k = 0; k < last && chunks_end < last; ++k) {
        if (!share.has(k)) continue;
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
                       float* ri, const CovarianceRows& share) {
  accumulate_sums<ScalarRows>(xr, xi, samples, channels, mr, mi, rr, ri, share);
}

void accumulate_vector128(const float* xr, const float* xi, std::int64_t samples,
                          std::int64_t channels, const float* mr, const float* mi, float* rr,
                          float* ri, const CovarianceRows& share) {
  accumulate_sums<VectorRows<2>>(xr, xi, samples, channels, mr, mi, rr, ri, share);
}

#if TARVEL_SIMD_X86
TARVEL_TARGET_AVX2 void accumulate_vector256(const float* xr, const float* xi, std::int64_t samples,
                                             std::int64_t channels, const float* mr,
                                             const float* mi, float* rr, float* ri,
                                             const CovarianceRows& share) {
  accumulate_sums<VectorRows<4>>(xr, xi, samples, channels, mr, mi, rr, ri, share);
}
#endif

}  // namespace

void accumulate_covariance_sums(SimdLevel level, const float* xr, const float* xi,
                                std::int64_t samples, std::int64_t channels, const float* mr,
                                const float* mi, float* rr, float* ri, const CovarianceRows& rows) {
  switch (level) {
    case SimdLevel::kScalar:
      accumulate_scalar(xr, xi, samples, channels, mr, mi, rr, ri, rows);
      return;
    case SimdLevel::kVector128:
      accumulate_vector128(xr, xi, samples, channels, mr, mi, rr, ri, rows);
      return;
    case SimdLevel::kVector256:
#if TARVEL_SIMD_X86
      accumulate_vector256(xr, xi, samples, channels, mr, mi, rr, ri, rows);
#else
      accumulate_vector128(xr, xi, samples, channels, mr, mi, rr, ri, rows);
#endif
      return;
  }
}

}  // namespace tarvel::detail

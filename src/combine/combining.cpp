#include "combine/combining.h"

#include <algorithm>

#include "combine/combining_kernel.h"
#include "combine/decibels.h"
#include "combine/extended.h"
#include "combine/extended_in_double.h"
#include "combine/shared_work.h"
#include "runtime/helper_thread.h"

namespace tarvel {

void compute_optimum_weights(const ComplexVector& m, const ComplexMatrix& B, ComplexVector& w) {
  const std::int64_t channels = m.re.size();
  const float* mr = m.re.data();
  const float* mi = m.im.data();
  for (std::int64_t k = 1; k <= channels; ++k) {
    const float* brk = B.re.row(k);
    const float* bik = B.im.row(k);
    float sr = 0;
    float si = 0;
    for (std::int64_t l = 0; l < channels; ++l) {
      sr = extended_multiply_add_minus(mr[l], brk[l], sr, mi[l], bik[l]);
      si = extended_multiply_add_plus(mr[l], bik[l], si, mi[l], brk[l]);
    }
    w.re(k) = sr;
    // Negated, not subtracted from zero: a zero sum gives a negative zero.
    w.im(k) = -si;
  }
}

std::int64_t select_reference_channel(const Array1<float>& snr) {
  std::int64_t ref = 1;
  float best = -1000;
  for (std::int64_t k = 1; k <= snr.size(); ++k) {
    // Strictly greater: the first of equal maxima stays, and NaN never wins.
    if (snr(k) > best) {
      best = snr(k);
      ref = k;
    }
  }
  return ref;
}

void normalise_weights(const ComplexVector& w, std::int64_t ref, ComplexVector& v) {
  const std::int64_t channels = w.re.size();
  const float wr_ref = w.re(ref);
  const float wi_ref = w.im(ref);
  // mag, qr and qi are stored values, each rounded to single.
  const float mag = extended_sum_of_products(wr_ref, wr_ref, wi_ref, wi_ref);
  const float qr = extended_quotient(wr_ref, mag);
  const float qi = extended_quotient(-wi_ref, mag);
  for (std::int64_t k = 1; k <= channels; ++k) {
    const float wr = w.re(k);
    const float wi = w.im(k);
    v.re(k) = extended_difference_of_products(wr, qr, wi, qi);
    v.im(k) = extended_sum_of_products(wi, qr, wr, qi);
  }
  // Exactly 1 + 0j, whatever the quotient gave (NaN included).
  v.re(ref) = 1;
  v.im(ref) = 0;
}

void combine_signal(const Array2<float>& xr, const Array2<float>& xi, const ComplexVector& v,
                    Array1<float>& yr, Array1<float>& yi) {
  combine_signal(xr, xi, v, yr, yi, detail::best_simd_level());
}

void combine_signal(const Array2<float>& xr, const Array2<float>& xi, const ComplexVector& v,
                    Array1<float>& yr, Array1<float>& yi, detail::SimdLevel level) {
  combine_signal(xr, xi, v, yr, yi, level, worker_count());
}

void combine_signal(const Array2<float>& xr, const Array2<float>& xi, const ComplexVector& v,
                    Array1<float>& yr, Array1<float>& yi, detail::SimdLevel level, int workers) {
  // The weights are applied as they are, not conjugated. Each combined
  // sample depends on its own row alone, so a large signal is combined in as
  // many parts at once as there are workers, each of at least
  // kMinSharedProducts products.
  const std::int64_t samples = xr.rows();
  const std::int64_t channels = xr.columns();
  const auto combine_rows = [&](std::int64_t first, std::int64_t count) {
    detail::combine_samples(level, xr.row(1) + first * channels, xi.row(1) + first * channels,
                            count, channels, v.re.data(), v.im.data(), yr.data() + first,
                            yi.data() + first);
  };
  const int parts = shared_parts(samples * channels, workers, workers);
  if (parts == 1) {
    combine_rows(0, samples);
    return;
  }
  run_in_parts(parts, [&](int part) {
    const std::int64_t first = samples * part / parts;
    combine_rows(first, samples * (part + 1) / parts - first);
  });
}

void combine_block(const SampleBlock& block, std::int64_t channels, const ComplexVector& v,
                   float* yr, float* yi) {
  detail::combine_samples(detail::best_simd_level(), block.xr, block.xi, block.count, channels,
                          v.re.data(), v.im.data(), yr, yi);
}

CombinedStatistics compute_combined_statistics(const Array1<float>& yr, const Array1<float>& yi) {
  CombinedStatisticsSums sums(yr.size());
  sums.add_to_mean(yr.data(), yi.data(), yr.size());
  sums.add_to_noise_power(yr.data(), yi.data(), yr.size());
  return sums.result();
}

// Single additions are the extended ones: the exact sum of two floats
// rounded to 64 bits and then to 24 gives the float the direct rounding
// gives, as 64 >= 2·24 + 2.
void CombinedStatisticsSums::add_to_mean(const float* yr, const float* yi, std::int64_t count) {
  float ybr = ybr_;
  float ybi = ybi_;
  for (std::int64_t n = 0; n < count; ++n) {
    ybr = yr[n] + ybr;
    ybi = yi[n] + ybi;
  }
  ybr_ = ybr;
  ybi_ = ybi;
}

void CombinedStatisticsSums::end_mean() {
  if (mean_ended_) return;
  const Extended s = samples_;  // exact
  ybr_ = extended_quotient(ybr_, s);
  ybi_ = extended_quotient(ybi_, s);
  mean_ended_ = true;
}

// The deviations, their squares and the partial sum t are held in double
// precision; the running noise power itself is single. Each step is
// evaluated in double where that provably gives the extended result
// (extended_in_double.h).
void CombinedStatisticsSums::add_to_noise_power(const float* yr, const float* yi,
                                                std::int64_t count) {
  end_mean();
  float n0 = n0_;
  for (std::int64_t n = 0; n < count; ++n) {
    n0 = detail::noise_power_step(yr[n], yi[n], ybr_, ybi_, n0);
  }
  n0_ = n0;
}

CombinedStatistics combined_statistics_of(float ybr, float ybi, float n0, std::int64_t samples) {
  const Extended s = samples;  // exact
  CombinedStatistics result;
  // Stored, unlike the per-channel power, which stays extended.
  const float pc = extended_sum_of_products(ybr, ybr, ybi, ybi);
  const float x = static_cast<float>((Extended{pc} / Extended{n0}) * s);
  result.mean_re = ybr;
  result.mean_im = ybi;
  result.power = pc;
  result.noise_power = n0;
  result.snr = detail::decibels(x);
  return result;
}

CombinedStatistics CombinedStatisticsSums::result() {
  end_mean();
  const Extended s = samples_;  // exact
  return combined_statistics_of(ybr_, ybi_, extended_quotient(n0_, s), samples_);
}

}  // namespace tarvel

#include "support/extended_reference.h"

#include <cstdint>

#include "combine/decibels.h"
#include "combine/extended.h"

namespace tarvel::reference {

// Every operand below is widened to the extended type, so each formula is
// evaluated in extended precision; the cast to float on storing is its one
// rounding.
using Ext = Extended;

void compute_means_and_covariance(const Array2<float>& xr, const Array2<float>& xi,
                                  ComplexVector& m, ComplexMatrix& R) {
  const std::int64_t samples = xr.rows();
  const std::int64_t channels = xr.columns();
  float* mr = m.re.data();
  float* mi = m.im.data();

  for (std::int64_t k = 0; k < channels; ++k) {
    mr[k] = 0;
    mi[k] = 0;
  }
  for (std::int64_t k = 1; k <= channels; ++k) {
    float* rr = R.re.row(k);
    float* ri = R.im.row(k);
    for (std::int64_t l = 0; l < channels; ++l) {
      rr[l] = 0;
      ri[l] = 0;
    }
  }

  // Sums accumulate in sample order and are stored in single precision after
  // every addition.
  for (std::int64_t n = 1; n <= samples; ++n) {
    const float* xrn = xr.row(n);
    const float* xin = xi.row(n);
    for (std::int64_t k = 0; k < channels; ++k) {
      mr[k] = static_cast<float>(Ext{xrn[k]} + Ext{mr[k]});
      mi[k] = static_cast<float>(Ext{xin[k]} + Ext{mi[k]});
    }
  }
  const Ext s = samples;  // exact
  for (std::int64_t k = 0; k < channels; ++k) {
    mr[k] = static_cast<float>(Ext{mr[k]} / s);
    mi[k] = static_cast<float>(Ext{mi[k]} / s);
  }

  // Every element is accumulated on its own, the lower triangle included, so
  // R(k,l) and conj(R(l,k)) come from the same rounded products.
  for (std::int64_t n = 1; n <= samples; ++n) {
    const float* xrn = xr.row(n);
    const float* xin = xi.row(n);
    for (std::int64_t k = 0; k < channels; ++k) {
      const float a = static_cast<float>(Ext{xrn[k]} - Ext{mr[k]});
      const float b = static_cast<float>(Ext{xin[k]} - Ext{mi[k]});
      float* rr = R.re.row(k + 1);
      float* ri = R.im.row(k + 1);
      for (std::int64_t l = 0; l < channels; ++l) {
        const float c = static_cast<float>(Ext{xrn[l]} - Ext{mr[l]});
        const float d = static_cast<float>(-(Ext{xin[l]} - Ext{mi[l]}));
        const float e = static_cast<float>(Ext{c} * Ext{a} - Ext{d} * Ext{b});
        const float f = static_cast<float>(Ext{c} * Ext{b} + Ext{d} * Ext{a});
        rr[l] = static_cast<float>(Ext{e} + Ext{rr[l]});
        ri[l] = static_cast<float>(Ext{f} + Ext{ri[l]});
      }
    }
  }
  for (std::int64_t k = 1; k <= channels; ++k) {
    float* rr = R.re.row(k);
    float* ri = R.im.row(k);
    for (std::int64_t l = 0; l < channels; ++l) {
      rr[l] = static_cast<float>(Ext{rr[l]} / s);
      ri[l] = static_cast<float>(Ext{ri[l]} / s);
    }
    // A covariance diagonal is real; whatever the sums left there goes.
    ri[k - 1] = 0;
  }
}

void combine_signal(const Array2<float>& xr, const Array2<float>& xi, const ComplexVector& v,
                    Array1<float>& yr, Array1<float>& yi) {
  const std::int64_t samples = xr.rows();
  const std::int64_t channels = xr.columns();
  const float* vr = v.re.data();
  const float* vi = v.im.data();
  for (std::int64_t n = 1; n <= samples; ++n) {
    const float* xrn = xr.row(n);
    const float* xin = xi.row(n);
    float sr = 0;
    float si = 0;
    // The weights are applied as they are, not conjugated.
    for (std::int64_t k = 0; k < channels; ++k) {
      sr = static_cast<float>((Ext{xrn[k]} * Ext{vr[k]} + Ext{sr}) - Ext{xin[k]} * Ext{vi[k]});
      si = static_cast<float>((Ext{xin[k]} * Ext{vr[k]} + Ext{si}) + Ext{xrn[k]} * Ext{vi[k]});
    }
    yr(n) = sr;
    yi(n) = si;
  }
}

CombinedStatistics compute_combined_statistics(const Array1<float>& yr, const Array1<float>& yi) {
  const std::int64_t samples = yr.size();
  const Ext s = samples;  // exact
  CombinedStatistics result;

  float ybr = 0;
  float ybi = 0;
  for (std::int64_t n = 1; n <= samples; ++n) {
    ybr = static_cast<float>(Ext{yr(n)} + Ext{ybr});
    ybi = static_cast<float>(Ext{yi(n)} + Ext{ybi});
  }
  ybr = static_cast<float>(Ext{ybr} / s);
  ybi = static_cast<float>(Ext{ybi} / s);

  // Stored, unlike the per-channel power, which stays extended.
  const float pc = static_cast<float>(Ext{ybr} * Ext{ybr} + Ext{ybi} * Ext{ybi});

  // The deviations, their squares and the partial sum t are held in double
  // precision; the running noise power itself is single.
  float n0 = 0;
  for (std::int64_t n = 1; n <= samples; ++n) {
    const double dr = static_cast<double>(Ext{yr(n)} - Ext{ybr});
    const double dr2 = dr * dr;  // the correctly rounded double square
    const double t = static_cast<double>(Ext{dr2} + Ext{n0});
    const double di = static_cast<double>(Ext{yi(n)} - Ext{ybi});
    const double di2 = di * di;
    n0 = static_cast<float>(Ext{di2} + Ext{t});
  }
  n0 = static_cast<float>(Ext{n0} / s);

  const float x = static_cast<float>((Ext{pc} / Ext{n0}) * s);
  result.mean_re = ybr;
  result.mean_im = ybi;
  result.power = pc;
  result.noise_power = n0;
  result.snr = detail::decibels(x);
  return result;
}

}  // namespace tarvel::reference

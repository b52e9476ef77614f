#include "combine/channel_statistics.h"

#include <cmath>

#include "combine/decibels.h"

namespace tarvel {

// Every operand below is widened to long double, so each formula is evaluated
// in the x87 extended format; the cast to float on storing is its one rounding.
using Ext = long double;

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
  const Ext s = static_cast<Ext>(samples);  // exact
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

void compute_channel_snr(const ComplexVector& m, const ComplexMatrix& R, std::int64_t sample_count,
                         Array1<float>& snr) {
  const std::int64_t channels = m.re.size();
  const Ext s = static_cast<Ext>(sample_count);  // exact
  for (std::int64_t k = 1; k <= channels; ++k) {
    const Ext mr = m.re(k);
    const Ext mi = m.im(k);
    const Ext rr = R.re(k, k);
    const Ext ri = R.im(k, k);
    // P and Q are not stored: they stay extended into the quotient.
    const Ext p = mr * mr + mi * mi;
    const Ext q = std::sqrt(rr * rr + ri * ri);
    const float x = static_cast<float>((p / q) * s);
    snr(k) = detail::decibels(x);
  }
}

}  // namespace tarvel

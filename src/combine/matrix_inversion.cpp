#include "combine/matrix_inversion.h"

#include <cmath>

namespace tarvel {

namespace {

using Ext = long double;

// Stands in for the squared magnitude of a pivot that is zero or NaN, so the
// routine never stops: a zero pivot gives a zero row of B, not infinities.
constexpr float kZeroPivotSubstitute = 1e-37f;

// A part that is exactly zero, of either sign, or NaN counts as zero; an
// infinity does not.
bool counts_as_nonzero(float part) {
  return part < 0 || part > 0;
}

}  // namespace

void invert_complex_matrix(Array2<float>& ar, Array2<float>& ai, Array2<float>& br,
                           Array2<float>& bi, std::int64_t n) {
  for (std::int64_t i = 1; i <= n; ++i) {
    float* bri = br.row(i);
    float* bii = bi.row(i);
    for (std::int64_t j = 0; j < n; ++j) {
      bri[j] = 0;
      bii[j] = 0;
    }
    bri[i - 1] = 1;
  }

  for (std::int64_t k = 1; k <= n; ++k) {
    float* ark = ar.row(k);
    float* aik = ai.row(k);
    float* brk = br.row(k);
    float* bik = bi.row(k);
    const std::int64_t kk = k - 1;  // 0-based pivot column

    float mag = static_cast<float>(Ext{ark[kk]} * Ext{ark[kk]} + Ext{aik[kk]} * Ext{aik[kk]});
    if (mag == 0 || std::isnan(mag)) mag = kZeroPivotSubstitute;
    const float pr = static_cast<float>(Ext{ark[kk]} / Ext{mag});
    const float pi = static_cast<float>(-Ext{aik[kk]} / Ext{mag});
    ark[kk] = 1;
    aik[kk] = 0;

    // The imaginary part of each product uses the real part from before the
    // update, kept in t (and s).
    for (std::int64_t j = 0; j < n; ++j) {
      const float t = brk[j];
      brk[j] = static_cast<float>(Ext{pr} * Ext{t} - Ext{pi} * Ext{bik[j]});
      bik[j] = static_cast<float>(Ext{pr} * Ext{bik[j]} + Ext{pi} * Ext{t});
    }
    // Left of the pivot, row k of A is already zero.
    for (std::int64_t j = k; j < n; ++j) {
      const float s = ark[j];
      ark[j] = static_cast<float>(Ext{pr} * Ext{s} - Ext{pi} * Ext{aik[j]});
      aik[j] = static_cast<float>(Ext{pr} * Ext{aik[j]} + Ext{pi} * Ext{s});
    }

    for (std::int64_t i = 1; i <= n; ++i) {
      if (i == k) continue;
      float* ari = ar.row(i);
      float* aii = ai.row(i);
      // A row whose column-k element counts as zero is left as it is, that
      // element included.
      if (!counts_as_nonzero(ari[kk]) && !counts_as_nonzero(aii[kk])) continue;
      float* bri = br.row(i);
      float* bii = bi.row(i);
      const float qr = -ari[kk];
      const float qi = -aii[kk];
      ari[kk] = 0;
      aii[kk] = 0;
      // The qr product and the old element are added first, the qi product
      // last; one rounding.
      for (std::int64_t j = 0; j < n; ++j) {
        const float t = brk[j];
        bri[j] = static_cast<float>((Ext{qr} * Ext{t} + Ext{bri[j]}) - Ext{qi} * Ext{bik[j]});
        bii[j] = static_cast<float>((Ext{qr} * Ext{bik[j]} + Ext{bii[j]}) + Ext{qi} * Ext{t});
      }
      for (std::int64_t j = k; j < n; ++j) {
        const float s = ark[j];
        ari[j] = static_cast<float>((Ext{qr} * Ext{s} + Ext{ari[j]}) - Ext{qi} * Ext{aik[j]});
        aii[j] = static_cast<float>((Ext{qr} * Ext{aik[j]} + Ext{aii[j]}) + Ext{qi} * Ext{s});
      }
    }
  }
}

}  // namespace tarvel

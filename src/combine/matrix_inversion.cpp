#include "combine/matrix_inversion.h"

#include <cmath>

#include "combine/extended.h"

namespace tarvel {

namespace {

// Stands in for the squared magnitude of a pivot that is zero or NaN, so the
// routine never stops: a zero pivot gives a zero row of B, not infinities.
constexpr float kZeroPivotSubstitute = 1e-37f;

// A part that is exactly zero, of either sign, or NaN counts as zero; an
// infinity does not.
bool counts_as_nonzero(float part) {
  return part < 0 || part > 0;
}

}  // namespace

bool invert_complex_matrix(Array2<float>& ar, Array2<float>& ai, Array2<float>& br,
                           Array2<float>& bi, std::int64_t n, const std::stop_token& stop) {
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
    if (stop.stop_requested()) return false;
    float* ark = ar.row(k);
    float* aik = ai.row(k);
    float* brk = br.row(k);
    float* bik = bi.row(k);
    const std::int64_t kk = k - 1;  // 0-based pivot column

    float mag = extended_sum_of_products(ark[kk], ark[kk], aik[kk], aik[kk]);
    if (mag == 0 || std::isnan(mag)) mag = kZeroPivotSubstitute;
    const float pr = extended_quotient(ark[kk], mag);
    const float pi = extended_quotient(-aik[kk], mag);
    ark[kk] = 1;
    aik[kk] = 0;

    // The imaginary part of each product uses the real part from before the
    // update, kept in t (and s).
    for (std::int64_t j = 0; j < n; ++j) {
      const float t = brk[j];
      brk[j] = extended_difference_of_products(pr, t, pi, bik[j]);
      bik[j] = extended_sum_of_products(pr, bik[j], pi, t);
    }
    // Left of the pivot, row k of A is already zero.
    for (std::int64_t j = k; j < n; ++j) {
      const float s = ark[j];
      ark[j] = extended_difference_of_products(pr, s, pi, aik[j]);
      aik[j] = extended_sum_of_products(pr, aik[j], pi, s);
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
        bri[j] = extended_multiply_add_minus(qr, t, bri[j], qi, bik[j]);
        bii[j] = extended_multiply_add_plus(qr, bik[j], bii[j], qi, t);
      }
      for (std::int64_t j = k; j < n; ++j) {
        const float s = ark[j];
        ari[j] = extended_multiply_add_minus(qr, s, ari[j], qi, aik[j]);
        aii[j] = extended_multiply_add_plus(qr, aik[j], aii[j], qi, s);
      }
    }
  }
  return true;
}

}  // namespace tarvel

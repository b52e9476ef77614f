// The error of a logarithm against MPFR's correctly rounded ln, in units of
// the last place of the 64-bit significand of the exact value: the measure of
// the tool's own logarithm in its unit tests and in its check.
#pragma once

#include <mpfr.h>

#include <cmath>

namespace tarvel::testing {

// The check finds no error above 0.519 units on 13 million values, every
// float of [√½, √2) among them; a fault in any term of the sum shows far
// above that.
inline constexpr double kNaturalLogMaxUlps = 0.53;

// ln x at 160 bits, the reference the error is measured against, and ln x
// correctly rounded to 64 bits.
class LogReference {
 public:
  LogReference() {
    mpfr_inits2(160, input_, exact_, scratch_, static_cast<mpfr_ptr>(nullptr));
    mpfr_init2(rounded_, 64);
  }
  // MPFR keeps the constants it computed in caches of the calling thread,
  // which would outlive a worker thread unfreed.
  ~LogReference() {
    mpfr_clears(input_, exact_, scratch_, rounded_, static_cast<mpfr_ptr>(nullptr));
    mpfr_free_cache();
  }
  LogReference(const LogReference&) = delete;
  LogReference& operator=(const LogReference&) = delete;

  void set(float x) {
    mpfr_set_flt(input_, x, MPFR_RNDN);
    mpfr_log(exact_, input_, MPFR_RNDN);
    mpfr_log(rounded_, input_, MPFR_RNDN);
  }
  // The error of v. ln 1 = 0 and ln 0 = -infinity have no last place: any
  // other v there is an infinite error.
  double ulps(long double v) {
    mpfr_set_ld(scratch_, v, MPFR_RNDN);  // exact
    if (!mpfr_regular_p(exact_)) return mpfr_equal_p(scratch_, exact_) ? 0 : INFINITY;
    mpfr_sub(scratch_, scratch_, exact_, MPFR_RNDN);
    mpfr_mul_2si(scratch_, scratch_, 64 - mpfr_get_exp(exact_), MPFR_RNDN);
    return mpfr_get_d(scratch_, MPFR_RNDN);
  }
  bool correctly_rounded(long double v) const { return mpfr_get_ld(rounded_, MPFR_RNDN) == v; }

 private:
  mpfr_t input_, exact_, scratch_, rounded_;
};

}  // namespace tarvel::testing

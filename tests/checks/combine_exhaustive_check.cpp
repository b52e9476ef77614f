// Checks the double-precision evaluation of the combine formulas against
// their extended evaluation on many random cases, far more than the unit
// tests run, and prints for each formula the cases, how many went to the
// extended fallback and how many gave different bits (which must be 0).
//
// The values are drawn to be hard: besides ordinary ones, short significands
// (exact products, so results on float midpoints), results a tiny residue
// away from a midpoint, cancellation, subnormal and overflowing results,
// zeros, infinities and NaN.
//
//   combine_exhaustive_check [CASES_PER_FORMULA]   (default 100000000)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "combine/combining_kernel.h"
#include "combine/covariance_kernel.h"
#include "combine/extended.h"
#include "combine/extended_in_double.h"
#include "combine/simd_level.h"
#include "support/random_bits.h"

namespace {

using tarvel::detail::SimdLevel;
// The build's extended type: the x87's, or the portable one.
using Ext = tarvel::Extended;

using tarvel::testing::Random;

// A float with a `bits`-bit significand and binary exponent in [low, high].
float make_float(Random& random, int bits, int low, int high) {
  const std::uint64_t top = std::uint64_t{1} << (bits - 1);
  const std::uint64_t significand = top | (random.next() & (top - 1));
  const int exponent = low + random.below(high - low + 1) - (bits - 1);
  const double value = std::ldexp(static_cast<double>(significand), exponent);
  return static_cast<float>((random.next() & 1) != 0 ? -value : value);
}

float special(Random& random) {
  constexpr float kValues[] = {0.0f,
                               -0.0f,
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity(),
                               std::numeric_limits<float>::quiet_NaN(),
                               0x1p-149f,
                               3e38f,
                               1.0f};
  return kValues[random.below(8)];
}

// One operand of a case of the given kind.
float operand(Random& random, int kind) {
  switch (kind) {
    case 0:
      return make_float(random, 24, -3, 3);  // ordinary
    case 1:
      return make_float(random, 12, -2, 2);  // exact products of 24 bits
    case 2:
      return make_float(random, 13, -2, 2);  // products on midpoints
    case 3:
      return make_float(random, 24, -150, 127);  // anywhere, subnormal to huge
    case 4:
      return make_float(random, 24, -80, -60);  // results below 2^-126
    case 5:
      return random.below(8) == 0 ? special(random) : make_float(random, 24, -3, 3);
    default:
      return make_float(random, 24, 60, 127);  // overflow
  }
}
constexpr int kKinds = 7;

// The real and imaginary part of a sample or weight for the kernels: the
// kinds above, and one more where the real parts have 13-bit significands
// (their products lie on midpoints) and the imaginary parts are 27 to 33
// binades smaller (their products are residues a double loses and the
// extended format keeps, or not).
constexpr int kKernelKinds = kKinds + 1;

void complex_operand(Random& random, int kind, float& re, float& im) {
  if (kind < kKinds) {
    re = operand(random, kind);
    im = operand(random, kind);
    return;
  }
  re = make_float(random, 13, 0, 0);
  im = std::ldexp(make_float(random, 12, 0, 0), -27 - random.below(7));
}

bool same(float x, float y) {
  return (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof x) == 0;
}

struct Tally {
  const char* name;
  std::int64_t cases = 0;
  std::int64_t fallbacks = 0;
  std::int64_t mismatches = 0;
  std::int64_t plain_wrong = 0;  // the double result rounded without any test would differ
  void print() const {
    std::printf("%-40s %11lld cases %9lld fallbacks %8lld plain-double wrong %4lld mismatches\n",
                name, static_cast<long long>(cases), static_cast<long long>(fallbacks),
                static_cast<long long>(plain_wrong), static_cast<long long>(mismatches));
  }
};

void report_mismatch(Tally& tally, const char* what, float fast, float extended) {
  if (++tally.mismatches <= 5) {
    std::printf("  %s: %s gives %a, extended %a\n", tally.name, what, fast, extended);
  }
}

// c·a - d·b and c·b + d·a, scalar: the first two operands of a case of kind
// 2 are made a residue away from a midpoint by the second product.
void check_products(std::int64_t cases, Tally& difference, Tally& sum) {
  Random random(1);
  for (std::int64_t i = 0; i < cases; ++i) {
    const int kind = static_cast<int>(i % kKinds);
    const float c = operand(random, kind);
    const float a = operand(random, kind);
    float d = operand(random, kind);
    float b = operand(random, kind);
    if (kind == 2 && (i & 8) != 0) {
      // c·a has 25 or 26 bits; d·b a residue 26 to 50 binades below it.
      const int shift = 26 + random.below(25);
      d = std::ldexp(make_float(random, 12, 0, 0), -shift / 2);
      b = std::ldexp(make_float(random, 12, 0, 0), -(shift - shift / 2));
    }
    const double h_difference = static_cast<double>(c) * a - static_cast<double>(d) * b;
    const double h_sum = static_cast<double>(c) * b + static_cast<double>(d) * a;
    difference.fallbacks += tarvel::detail::needs_extended_rounding(h_difference);
    sum.fallbacks += tarvel::detail::needs_extended_rounding(h_sum);
    difference.plain_wrong += !same(static_cast<float>(h_difference),
                                    static_cast<float>(Ext{c} * Ext{a} - Ext{d} * Ext{b}));
    sum.plain_wrong +=
        !same(static_cast<float>(h_sum), static_cast<float>(Ext{c} * Ext{b} + Ext{d} * Ext{a}));
    const float fast_difference = tarvel::detail::product_difference(c, a, d, b);
    const float fast_sum = tarvel::detail::product_sum(c, b, d, a);
    const auto ext_difference = static_cast<float>(Ext{c} * Ext{a} - Ext{d} * Ext{b});
    const auto ext_sum = static_cast<float>(Ext{c} * Ext{b} + Ext{d} * Ext{a});
    if (!same(fast_difference, ext_difference)) {
      report_mismatch(difference, "c·a - d·b", fast_difference, ext_difference);
    }
    if (!same(fast_sum, ext_sum)) report_mismatch(sum, "c·b + d·a", fast_sum, ext_sum);
  }
  difference.cases = cases;
  sum.cases = cases;
}

// (P1 + s) -+ P2, scalar: the double evaluation where the test accepts it,
// the extended one where it does not.
void check_two_steps(std::int64_t cases, Tally& minus, Tally& plus) {
  Random random(2);
  for (std::int64_t i = 0; i < cases; ++i) {
    const int kind = static_cast<int>(i % kKinds);
    const float x = operand(random, kind);
    const float v = operand(random, kind);
    float s = operand(random, kind);
    float y = operand(random, kind);
    float w = operand(random, kind);
    if ((i & 16) != 0 && kind < 3) {
      // Cancellation: P2 close to P1 + s, s far below P1.
      s = std::ldexp(operand(random, kind), -random.below(60));
      y = x;
      w = (random.next() & 1) != 0 ? v : std::nextafter(v, 0.0f);
    }
    for (int sign = 0; sign < 2; ++sign) {
      Tally& tally = sign == 0 ? minus : plus;
      const double u1 = static_cast<double>(x) * v + s;
      const double p2 = static_cast<double>(y) * w;
      const double u2 = sign == 0 ? u1 - p2 : u1 + p2;
      const auto rounded = static_cast<float>(u2);
      const Ext v1 = Ext{x} * Ext{v} + Ext{s};
      const auto extended =
          static_cast<float>(sign == 0 ? v1 - Ext{y} * Ext{w} : v1 + Ext{y} * Ext{w});
      tally.plain_wrong += !same(rounded, extended);
      if (!tarvel::detail::two_steps_round_alike(u1, u2, rounded)) {
        ++tally.fallbacks;
        continue;  // the extended evaluation is used
      }
      if (!same(rounded, extended)) report_mismatch(tally, "(P1 + s) -+ P2", rounded, extended);
    }
  }
  minus.cases = cases;
  plus.cases = cases;
}

// The covariance kernel at `level`: batches of samples of 16 channels with
// zero means and -0 sums, so each element receives e (or f) exactly; every
// element with l >= k is compared.
void check_covariance_kernel(SimdLevel level, std::int64_t cases, Tally& tally) {
  constexpr std::int64_t kChannels = 16;
  constexpr std::int64_t kElements = kChannels * (kChannels + 1) / 2;
  Random random(3 + static_cast<int>(level));
  std::vector<float> xr(kChannels), xi(kChannels), zero(kChannels, 0.0f);
  std::vector<float> rr(kChannels * kChannels), ri(kChannels * kChannels);
  for (std::int64_t batch = 0; tally.cases < cases; ++batch) {
    const int kind = static_cast<int>(batch % kKernelKinds);
    for (std::int64_t k = 0; k < kChannels; ++k) complex_operand(random, kind, xr[k], xi[k]);
    std::fill(rr.begin(), rr.end(), -0.0f);  // -0 + e is e, zeros' signs included
    std::fill(ri.begin(), ri.end(), -0.0f);
    tarvel::detail::accumulate_covariance_sums(level, xr.data(), xi.data(), 1, kChannels,
                                               zero.data(), zero.data(), rr.data(), ri.data());
    for (std::int64_t k = 0; k < kChannels; ++k) {
      for (std::int64_t l = k; l < kChannels; ++l) {
        const float a = xr[k], b = xi[k], c = xr[l], d = -xi[l];
        const auto e = static_cast<float>(Ext{c} * Ext{a} - Ext{d} * Ext{b});
        const auto f = static_cast<float>(Ext{c} * Ext{b} + Ext{d} * Ext{a});
        const double he = static_cast<double>(c) * a - static_cast<double>(d) * b;
        const double hf = static_cast<double>(c) * b + static_cast<double>(d) * a;
        tally.fallbacks += tarvel::detail::needs_extended_rounding(he);
        tally.fallbacks += tarvel::detail::needs_extended_rounding(hf);
        tally.plain_wrong += !same(static_cast<float>(he), e);
        tally.plain_wrong += !same(static_cast<float>(hf), f);
        if (!same(rr[k * kChannels + l], e)) report_mismatch(tally, "e", rr[k * kChannels + l], e);
        if (!same(ri[k * kChannels + l], f)) report_mismatch(tally, "f", ri[k * kChannels + l], f);
      }
    }
    tally.cases += 2 * kElements;
  }
}

// One part of a combined sample in double precision, every running sum
// rounded to float, with no test at all.
float plain_double_sample(const float* xr, const float* xi, const float* vr, const float* vi,
                          std::int64_t channels, bool real) {
  float s = 0;
  for (std::int64_t k = 0; k < channels; ++k) {
    s = real ? static_cast<float>((static_cast<double>(xr[k]) * vr[k] + s) -
                                  static_cast<double>(xi[k]) * vi[k])
             : static_cast<float>((static_cast<double>(xi[k]) * vr[k] + s) +
                                  static_cast<double>(xr[k]) * vi[k]);
  }
  return s;
}

// One combined sample in extended precision as written, every step.
void extended_sample(const float* xr, const float* xi, const float* vr, const float* vi,
                     std::int64_t channels, float& yr, float& yi) {
  float sr = 0;
  float si = 0;
  for (std::int64_t k = 0; k < channels; ++k) {
    sr = tarvel::extended_multiply_add_minus(xr[k], vr[k], sr, xi[k], vi[k]);
    si = tarvel::extended_multiply_add_plus(xi[k], vr[k], si, xr[k], vi[k]);
  }
  yr = sr;
  yi = si;
}

// The combining kernel at `level`: batches of samples of 2 channels, each
// sample compared with its extended evaluation (2 steps, real and imaginary).
void check_combining_kernel(SimdLevel level, std::int64_t cases, Tally& tally) {
  constexpr std::int64_t kChannels = 2;
  constexpr std::int64_t kSamples = 1024;
  Random random(5 + static_cast<int>(level));
  std::vector<float> xr(kSamples * kChannels), xi(kSamples * kChannels);
  std::vector<float> yr(kSamples), yi(kSamples);
  float vr[kChannels], vi[kChannels];
  while (tally.cases < cases) {
    const int kind = static_cast<int>((tally.cases / (2 * kSamples * kChannels)) % kKernelKinds);
    for (std::int64_t k = 0; k < kChannels; ++k) complex_operand(random, kind, vr[k], vi[k]);
    for (std::int64_t i = 0; i < kSamples * kChannels; ++i) {
      complex_operand(random, kind, xr[i], xi[i]);
    }
    tarvel::detail::combine_samples(level, xr.data(), xi.data(), kSamples, kChannels, vr, vi,
                                    yr.data(), yi.data());
    for (std::int64_t n = 0; n < kSamples; ++n) {
      float er = 0, ei = 0, fr = 0, fi = 0;
      if (!tarvel::detail::combine_sample_in_double(&xr[n * kChannels], &xi[n * kChannels], vr, vi,
                                                    kChannels, fr, fi)) {
        ++tally.fallbacks;
      }
      extended_sample(&xr[n * kChannels], &xi[n * kChannels], vr, vi, kChannels, er, ei);
      tally.plain_wrong +=
          !same(
              plain_double_sample(&xr[n * kChannels], &xi[n * kChannels], vr, vi, kChannels, true),
              er) ||
          !same(
              plain_double_sample(&xr[n * kChannels], &xi[n * kChannels], vr, vi, kChannels, false),
              ei);
      if (!same(yr[n], er)) report_mismatch(tally, "yr", yr[n], er);
      if (!same(yi[n], ei)) report_mismatch(tally, "yi", yi[n], ei);
    }
    tally.cases += 4 * kSamples * kChannels / 2;  // 2 formulas per channel and sample
  }
}

// One noise power step: the combined sample (yr, yi), the mean (ybr, ybi)
// and the running noise power n0 >= 0.
struct NoiseStep {
  float yr, yi, ybr, ybi, n0;
};

// A float 2^e (1 + m 2^-bits) for m drawn from [-spread, spread].
float near_power(Random& random, int e, int bits, int spread) {
  const int m = random.below(2 * spread + 1) - spread;
  return static_cast<float>(std::ldexp(1.0 + std::ldexp(static_cast<double>(m), -bits), e));
}

float negated_at_random(Random& random, float v) {
  return (random.next() & 1) != 0 ? -v : v;
}

// The kinds of noise power steps: ordinary values, short significands, means
// so small against the samples that the deviations are inexact in double,
// three built to put the extended result on the other side of a float
// midpoint from the plain double one, tiny values whose noise power is
// subnormal, huge ones that overflow, and special values.
constexpr int kNoiseKinds = 9;

NoiseStep noise_step(Random& random, int kind) {
  NoiseStep c{};
  const int k = 2 * random.below(5) - 4;  // an even exponent from -4 to 4
  switch (kind) {
    case 0:
      c = {make_float(random, 24, -3, 3), make_float(random, 24, -3, 3),
           make_float(random, 24, -8, 0), make_float(random, 24, -8, 0),
           std::fabs(make_float(random, 24, -2, 8))};
      break;
    case 1:
      c = {make_float(random, 13, -2, 2), make_float(random, 13, -2, 2),
           make_float(random, 12, -4, 0), make_float(random, 12, -4, 0),
           random.below(2) == 0 ? 0.0f : std::fabs(make_float(random, 13, -2, 4))};
      break;
    case 2:
      c = {make_float(random, 24, -3, 3), make_float(random, 24, -3, 3),
           make_float(random, 24, -80, -25), make_float(random, 24, -80, -25),
           std::fabs(make_float(random, 24, -2, 6))};
      break;
    case 3: {
      // yr has 13 bits, so its square may be a float midpoint, and ybr puts
      // yr - ybr on, or within a few 64-bit units of, a double midpoint next
      // to yr, where the two evaluations may round it apart; di2 is a residue
      // 2^-54 to 2^-64 times the square.
      const float a = make_float(random, 13, k / 2, k / 2);
      const float shift = near_power(random, k / 2 - 53, 13, 8);
      const float root = std::ldexp(1.0f, k / 2 - 27 - random.below(6));
      c = {a, negated_at_random(random, root), negated_at_random(random, shift), 0,
           random.below(4) == 0 ? std::fabs(make_float(random, 13, k, k)) : 0.0f};
      break;
    }
    case 4: {
      // n0 + di2 is a float midpoint, and dr2, a 48-bit square close to half
      // a double unit of n0, puts dr2 + n0 on, or next to, a double midpoint.
      const float n0 = std::fabs(make_float(random, 24, k, k));
      const double root = std::sqrt(std::ldexp(1.0, k - 53)) *
                          (1 + std::ldexp(static_cast<double>(random.below(129) - 64), -18));
      const auto high = static_cast<float>(root);
      const auto low = static_cast<float>(root - high);
      const float sign = (random.next() & 1) != 0 ? -1.0f : 1.0f;
      c = {sign * high, std::ldexp(1.0f, (k - 24) / 2), -sign * low, 0, n0};
      break;
    }
    case 5: {
      // n0 + di2 is a float midpoint and dr2 a small whole number of double
      // units of it, some within the test's margin and some beyond; ybr at
      // times makes the deviation inexact, next to a double midpoint.
      const float n0 = std::fabs(make_float(random, 24, k, k));
      const float dr = std::ldexp(static_cast<float>(1 + random.below(64)), (k - 52) / 2);
      const float shift =
          random.below(2) == 0 ? 0.0f : near_power(random, std::ilogb(dr) - 53, 13, 8);
      c = {dr, std::ldexp(1.0f, (k - 24) / 2), shift, 0, n0};
      break;
    }
    case 6:
      c = {make_float(random, 24, -75, -60), make_float(random, 24, -75, -60),
           random.below(2) == 0 ? 0.0f : make_float(random, 24, -80, -60), 0,
           random.below(2) == 0 ? 0.0f : std::fabs(make_float(random, 24, -149, -120))};
      break;
    case 7:
      c = {make_float(random, 24, 60, 127), make_float(random, 24, 60, 127),
           random.below(2) == 0 ? 0.0f : make_float(random, 24, 60, 127), 0,
           std::fabs(make_float(random, 24, 100, 127))};
      break;
    default: {
      float* parts[] = {&c.yr, &c.yi, &c.ybr, &c.ybi, &c.n0};
      for (float* part : parts) {
        *part = random.below(4) == 0 ? special(random) : make_float(random, 24, -3, 3);
      }
      c.n0 = std::fabs(c.n0);  // n0 >= 0, or NaN
      break;
    }
  }
  return c;
}

// The noise power step in double precision where its test accepts it, and in
// extended precision where it does not, against the extended evaluation.
void check_noise_power_steps(std::int64_t cases, Tally& tally) {
  Random random(9);
  for (std::int64_t i = 0; i < cases; ++i) {
    const NoiseStep c = noise_step(random, static_cast<int>(i % kNoiseKinds));
    const float extended =
        tarvel::detail::noise_power_step_extended(c.yr, c.yi, c.ybr, c.ybi, c.n0);
    float in_double = 0;
    if (!tarvel::detail::noise_power_step_in_double(c.yr, c.yi, c.ybr, c.ybi, c.n0, in_double)) {
      ++tally.fallbacks;
    }
    const double dr = static_cast<double>(c.yr) - c.ybr;
    const double di = static_cast<double>(c.yi) - c.ybi;
    tally.plain_wrong += !same(static_cast<float>(di * di + (dr * dr + c.n0)), extended);
    const float fast = tarvel::detail::noise_power_step(c.yr, c.yi, c.ybr, c.ybi, c.n0);
    if (!same(fast, extended)) report_mismatch(tally, "n0", fast, extended);
  }
  tally.cases = cases;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t cases = argc > 1 ? std::atoll(argv[1]) : 100'000'000;
  Tally difference{"e = c·a - d·b, scalar"};
  Tally sum{"f = c·b + d·a, scalar"};
  check_products(cases, difference, sum);
  difference.print();
  sum.print();

  Tally minus{"(xr·vr + sr) - xi·vi, scalar test"};
  Tally plus{"(xi·vr + si) + xr·vi, scalar test"};
  check_two_steps(cases, minus, plus);
  minus.print();
  plus.print();

  Tally noise{"noise power step, scalar"};
  check_noise_power_steps(cases, noise);
  noise.print();

  std::int64_t mismatches = difference.mismatches + sum.mismatches + minus.mismatches +
                            plus.mismatches + noise.mismatches;
  for (SimdLevel level : {SimdLevel::kVector128, SimdLevel::kVector256}) {
    if (!tarvel::detail::simd_level_supported(level)) continue;
    const bool v128 = level == SimdLevel::kVector128;
    Tally covariance{v128 ? "covariance kernel e and f, 128-bit"
                          : "covariance kernel e and f, 256-bit"};
    check_covariance_kernel(level, cases, covariance);
    covariance.print();
    Tally combining{v128 ? "combining kernel steps, 128-bit" : "combining kernel steps, 256-bit"};
    check_combining_kernel(level, cases, combining);
    combining.print();
    mismatches += covariance.mismatches + combining.mismatches;
  }
  std::printf("%s\n", mismatches == 0 ? "no mismatches" : "MISMATCHES FOUND");
  return mismatches == 0 ? 0 : 1;
}

// The covariance and combining formulas evaluated in double precision instead
// of the extended format, with the tests that prove, value by value, that
// the double result rounds to the same float as the extended one. Where a test
// cannot prove it, the caller evaluates that formula in extended precision.
//
// Every argument below rests on one fact: rounding to float is monotone and
// leaves each float midpoint (a value halfway between two adjacent floats)
// where it is, so two values that lie strictly between the same two adjacent
// midpoints round to the same float. Signs of zeros, infinities and NaN are
// dealt with formula by formula.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "combine/extended.h"

namespace tarvel::detail {

// One operation on exact products: e = c·a - d·b and f = c·b + d·a.
//
// Both products of two floats are exact in double (24 + 24 bits) and in the
// extended format, so each formula is a single operation on exact operands
// with exact value x: extended stores round24(round64(x)), double gives
// h = round53(x) and stores round24(h). Float midpoints have 25 significant
// bits, so round53 and round64 keep them fixed too, and round24(round_p(x))
// differs from round24(x) only if round_p(x) is itself a midpoint. If
// round64(x) is a midpoint m, x lies within half a 64-bit unit of m, well
// inside m's 53-bit rounding interval, so h = m as well. Hence when h is no
// midpoint, round24(h) = round24(x) = the extended result; when it is one, the
// formula is evaluated in extended precision.
//
// For |h| >= 2^-126 (float units are then relative) h is a midpoint exactly
// when the 29 low bits of its fraction, those a float lacks, are 1 followed
// by 28 zeros; that holds beyond the float range too, where both results
// overflow to the same infinity. Below 2^-126 the midpoints are the odd
// multiples of 2^-150 and the bit test does not see them: non-zero values
// there are evaluated in extended precision. Zero: every non-zero x is a
// multiple of 2^-298 and no rounding turns it into 0, so h = 0 means x = 0
// and both formats give it the sign the same IEEE rule gives it. Infinity and
// NaN operands: no finite value overflows in either format (|x| <= 2^257), so
// both give the same infinity, or NaN.

// The 29 fraction bits of a double that a float lacks, and their value at a
// float midpoint.
inline constexpr std::uint64_t kBelowFloatBits = 0x1FFFFFFF;
inline constexpr std::uint64_t kFloatMidpointBits = 0x10000000;
inline constexpr double kSmallestNormalFloat = 0x1p-126;

// True when float(h) may differ from the extended result whose exact value h
// rounds: h is a float midpoint, or non-zero below the normal float range.
inline bool needs_extended_rounding(double h) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(h);
  const double size = std::fabs(h);
  return (bits & kBelowFloatBits) == kFloatMidpointBits ||
         (size < kSmallestNormalFloat && size != 0);
}

// A float that is zero, at least 2^-40 in size, infinite or NaN is coarse.
// A non-zero coarse float is a multiple of 2^-63 (its last significand bit is
// worth at least 2^(-40-23)), so c·a - d·b and c·b + d·a of coarse floats are
// multiples of 2^-126: zero, at least 2^-126 in size, or not finite. For such
// operands needs_extended_rounding's range test is never true and may be
// skipped.
inline constexpr float kSmallestCoarseFloat = 0x1p-40f;

inline bool is_coarse(float v) {
  return !(std::fabs(v) < kSmallestCoarseFloat) || v == 0;
}

// The two formulas in extended precision, as written. Out of line and cold:
// they are the rare way out, and inlined the compiler may evaluate them on
// every call to pick the result afterwards.
[[gnu::noinline, gnu::cold]] inline float extended_product_difference(float c, float a, float d,
                                                                      float b) {
  return extended_difference_of_products(c, a, d, b);
}
[[gnu::noinline, gnu::cold]] inline float extended_product_sum(float c, float b, float d, float a) {
  return extended_sum_of_products(c, b, d, a);
}

// c·a - d·b and c·b + d·a rounded once to float, bit for bit as the extended
// evaluation rounds them.
inline float product_difference(float c, float a, float d, float b) {
  const double h = static_cast<double>(c) * a - static_cast<double>(d) * b;
  return needs_extended_rounding(h) ? extended_product_difference(c, a, d, b)
                                    : static_cast<float>(h);
}
inline float product_sum(float c, float b, float d, float a) {
  const double h = static_cast<double>(c) * b + static_cast<double>(d) * a;
  return needs_extended_rounding(h) ? extended_product_sum(c, b, d, a) : static_cast<float>(h);
}

// Two operations: s <- (P1 + s) - P2 and s <- (P1 + s) + P2, P1 and P2 exact
// products of floats and s a float.
//
// With x the exact value, the double evaluation u1 = round53(P1 + s),
// u2 = round53(u1 -+ P2) is off by |u2 - x| <= 2^-53 (|u1| + |u2|), each
// rounding by at most 2^-53 of its result (nothing underflows: every non-zero
// intermediate is a multiple of 2^-298 and below 2^259). The extended
// evaluation y is off by at most 2^-62 (|u1| + |u2|), so |u2 - y| < T =
// 2^-52 (|u1| + |u2|). Let 2^E <= |u2| < 2^(E+1) and r = round24(u2). From
// 2^E to 2^(E+1) the floats lie 2^(E-23) apart (farther below 2^-126), so
// the midpoints there are at least 2^(E-24) - |u2 - r| from u2; the one just
// below 2^E, half a smaller gap below it, is at least 2^(E-25) away. So if
// |u2 - r| + 2T < 2^(E-24), every midpoint is more than T from u2, none lies
// between u2 and y, and round24(y) = r. The test below puts 2^-50 in place of
// 2^-51, which more than covers the roundings of the test itself; 2^E is u2
// with its fraction bits cleared.
//
// u2 = 0 passes only with u1 = 0: then x = 0 exactly and both formats give
// the zero the same sign. A finite u2 whose float overflows fails (|u2 - r|
// is infinite). An infinite or NaN u2 needs an infinite or NaN operand, as no
// finite intermediate overflows in either format, and the extended
// evaluation then gives the same infinity, or NaN: it passes.

inline constexpr double kTwoStepErrorScale = 0x1p-50;
inline constexpr double kHalfFloatGapScale = 0x1p-24;
inline constexpr std::uint64_t kExponentBits = 0x7FF0000000000000;

// True when float(u2) = `rounded` is the extended result, u1 and u2 being the
// double evaluation of a two-operation formula as above.
inline bool two_steps_round_alike(double u1, double u2, double rounded) {
  const double size = std::fabs(u2);
  const double binade = std::bit_cast<double>(std::bit_cast<std::uint64_t>(u2) & kExponentBits);
  const double slack = std::fabs(u2 - rounded) + (std::fabs(u1) + size) * kTwoStepErrorScale;
  return slack <= binade * kHalfFloatGapScale || !(size < std::numeric_limits<double>::infinity());
}

// One channel's step of a combined sample in double, from the running sums:
// u1 = xr·vr + sr, u2 = u1 - xi·vi; w1 = xi·vr + si, w2 = w1 + xr·vi.
struct SampleStep {
  double u1, u2, w1, w2;
};

inline SampleStep sample_step_in_double(double xr, double xi, float vr, float vi, float sr,
                                        float si) {
  const double u1 = xr * vr + sr;
  const double w1 = xi * vr + si;
  return {u1, u1 - xi * vi, w1, w1 + xr * vi};
}

// One combined sample y = sum over k of x(k) v(k), bit for bit as the
// extended evaluation as written gives it: sr <- (xr·vr + sr) - xi·vi;
// si <- (xi·vr + si) + xr·vi. Every running sum is stored in single, so each
// step depends only on the float sums before it: a step whose double
// evaluation passes two_steps_round_alike takes the double result, and only
// the others are evaluated in extended precision (slow where the extended
// type is the portable one).
[[gnu::noinline, gnu::cold]] inline void combine_sample_double_or_extended(
    const float* xr, const float* xi, const float* vr, const float* vi, std::int64_t channels,
    float& yr, float& yi) {
  float sr = 0;
  float si = 0;
  for (std::int64_t k = 0; k < channels; ++k) {
    const SampleStep step = sample_step_in_double(xr[k], xi[k], vr[k], vi[k], sr, si);
    const auto r = static_cast<float>(step.u2);
    const auto i = static_cast<float>(step.w2);
    sr = two_steps_round_alike(step.u1, step.u2, r)
             ? r
             : extended_multiply_add_minus(xr[k], vr[k], sr, xi[k], vi[k]);
    si = two_steps_round_alike(step.w1, step.w2, i)
             ? i
             : extended_multiply_add_plus(xi[k], vr[k], si, xr[k], vi[k]);
  }
  yr = sr;
  yi = si;
}

// The same sample in double precision; returns false, leaving yr and yi
// unspecified, when some step might round differently from the extended
// evaluation.
inline bool combine_sample_in_double(const float* xr, const float* xi, const float* vr,
                                     const float* vi, std::int64_t channels, float& yr, float& yi) {
  float sr = 0;
  float si = 0;
  for (std::int64_t k = 0; k < channels; ++k) {
    const SampleStep step = sample_step_in_double(xr[k], xi[k], vr[k], vi[k], sr, si);
    sr = static_cast<float>(step.u2);  // each running sum is stored in single
    si = static_cast<float>(step.w2);
    if (!two_steps_round_alike(step.u1, step.u2, sr) ||
        !two_steps_round_alike(step.w1, step.w2, si)) {
      return false;
    }
  }
  yr = sr;
  yi = si;
  return true;
}

// One step of the noise power, from a combined sample (yr, yi), the mean
// (ybr, ybi) and the running noise power n0 >= 0, all floats:
//   dr = round53(round64(yr - ybr)),  t = round53(round64(dr·dr + n0)),
//   di = round53(round64(yi - ybi)),  n0 <- round24(round64(di·di + t)),
// the squares dr2 and di2 being double products in both evaluations. In
// double every operation is rounded once, to double, which now and then gives
// another dr, t or di, and h in place of y = round64(di2 + t), the value the
// extended evaluation rounds to float. Rather than match every intermediate,
// the test bounds |y - h| and checks that no float midpoint lies that close
// to h.
//
// Let u = 2^-53; values of the extended evaluation are marked x. A non-zero
// float is at least 2^-149 and below 2^128 in size, so every non-zero value
// here lies between 2^-298 and 2^261: nothing underflows or overflows, a
// rounding to double is off by at most u times its result or its exact value,
// and one to 64 bits by at most 2^-64 times either. All but the deviations
// are >= 0, and rounding is monotone, so dr2 <= t and di2, t <= h.
//  - The doubles next below and next above the exact deviation are 64-bit
//    numbers, so round64 keeps it between them: dr and dr_x are equal or
//    adjacent doubles, |dr_x - dr| <= 2u |dr|. Squared and rounded once,
//    |dr2_x - dr2| <= 7u dr2; likewise |di2_x - di2| <= 7u di2.
//  - t = (dr2 + n0)(1 + a), t_x = (dr2_x + n0)(1 + b) with |a| <= u and
//    |b| <= u + 2^-64 + 2^-117, so |t_x - t| <= 7u dr2 (1 + |b|) +
//    (dr2 + n0) |b - a| < 10u t.
//  - h = (di2 + t)(1 + c), y = (di2_x + t_x)(1 + d) with |c| <= u and
//    |d| <= 2^-64, so |y - h| <= 7u di2 + 10u t + 2u (di2 + t) < 13u h.
// Let B = 2^E <= h < 2^(E+1): |y - h| < 26u B < 2^-48 B. Let r = float(h);
// Sterbenz's lemma makes h - r exact. From 2^E to 2^(E+1) the floats lie
// 2^(E-23) apart (farther below 2^-126), so every float midpoint at or above
// 2^E is at least 2^(E-24) - |h - r| from h, and the one just below 2^E,
// half a smaller gap below it, is at least 2^(E-25) away. So the test
//   |h - r| <= (2^-24 - 2^-46) B,
// exact as written, keeps every midpoint at least 2^-46 B from h, over four
// times |y - h|: y rounds to the same float r. The largest floats are no
// exception, as the value from which a float overflows is such a midpoint.
// About 2^-22 of the steps with h >= 2^-126 fail the test, and most of those
// below, where the test stays as strict though the floats lie farther apart;
// they are evaluated in extended precision instead.
//
// h = 0 passes (B = 0); it needs di2 = t = 0, so dr2 = n0 = 0 and both
// deviations are exact zeros, on which both formats perform the same
// operations with the same signs. A finite h whose float overflows fails
// (|h - r| is infinite), as does an infinite or NaN h, which any infinite or
// NaN operand leads to (h - r is NaN): every infinity and NaN, bits included,
// comes from the extended evaluation.

inline constexpr double kNoisePowerRoundingScale = 0x1p-24 - 0x1p-46;

// The step in extended precision, as written.
[[gnu::noinline, gnu::cold]] inline float noise_power_step_extended(float yr, float yi, float ybr,
                                                                    float ybi, float n0) {
  const double dr = static_cast<double>(Extended{yr} - Extended{ybr});
  const double dr2 = dr * dr;
  const double t = static_cast<double>(Extended{dr2} + Extended{n0});
  const double di = static_cast<double>(Extended{yi} - Extended{ybi});
  const double di2 = di * di;
  return static_cast<float>(Extended{di2} + Extended{t});
}

// The step in double precision; returns false, leaving `next` unspecified,
// when the result might differ from the extended evaluation's.
inline bool noise_power_step_in_double(float yr, float yi, float ybr, float ybi, float n0,
                                       float& next) {
  const double dr = static_cast<double>(yr) - ybr;
  const double t = dr * dr + n0;
  const double di = static_cast<double>(yi) - ybi;
  const double h = di * di + t;
  next = static_cast<float>(h);
  const double binade = std::bit_cast<double>(std::bit_cast<std::uint64_t>(h) & kExponentBits);
  return std::fabs(h - next) <= binade * kNoisePowerRoundingScale;
}

// The next running noise power (n0 >= 0), bit for bit as the extended
// evaluation gives it.
inline float noise_power_step(float yr, float yi, float ybr, float ybi, float n0) {
  float next;
  return noise_power_step_in_double(yr, yi, ybr, ybi, n0, next)
             ? next
             : noise_power_step_extended(yr, yi, ybr, ybi, n0);
}

}  // namespace tarvel::detail

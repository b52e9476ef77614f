// The extended-precision type in which every formula of the combine code is
// evaluated, and the named formulas they share. This is the one place that
// knows which type it is: the x87's long double where the compiler's long
// double is that format, the integer-built PortableExtended elsewhere (or
// when the build asks for it with TARVEL_PORTABLE_EXTENDED). Both round every
// operation correctly to a 64-bit significand, so both give the same bits.
//
// Extended offers what long double offers the formulas: exact implicit
// construction from float, double and integers, + - * / and unary minus,
// the IEEE comparisons, square_root, and static_cast<float> or
// static_cast<double> as the one rounding when a result is stored.
#pragma once

#include <cmath>

#if !defined(TARVEL_PORTABLE_EXTENDED)
#error "TARVEL_PORTABLE_EXTENDED is set by the build of tarvel_combine"
#endif

#if TARVEL_PORTABLE_EXTENDED
#include "combine/portable_extended.h"
#endif

namespace tarvel {

#if TARVEL_PORTABLE_EXTENDED
using Extended = PortableExtended;
#else
using Extended = long double;
#endif

// The square root, correctly rounded.
inline Extended square_root(Extended x) {
  using std::sqrt;
  return sqrt(x);
}

// x·y for floats x and y. The product of two floats is exact in double, so
// the portable type takes it from the double product, much faster than its
// own multiplication; only a NaN, whose passing follows the x87's rules,
// takes the extended multiplication.
inline Extended exact_product(float x, float y) {
#if TARVEL_PORTABLE_EXTENDED
  const double product = static_cast<double>(x) * y;
  if (!std::isnan(product)) [[likely]]
    return product;
#endif
  return Extended{x} * Extended{y};
}

// The parts of complex products and multiply-adds, each evaluated in
// extended precision in the order written and rounded to float once.

// c·a - d·b.
inline float extended_difference_of_products(float c, float a, float d, float b) {
  return static_cast<float>(exact_product(c, a) - exact_product(d, b));
}

// c·b + d·a.
inline float extended_sum_of_products(float c, float b, float d, float a) {
  return static_cast<float>(exact_product(c, b) + exact_product(d, a));
}

// (p·q + s) - u·v: the product with p and the sum s first, the other product last.
inline float extended_multiply_add_minus(float p, float q, float s, float u, float v) {
  return static_cast<float>((exact_product(p, q) + Extended{s}) - exact_product(u, v));
}

// (p·q + s) + u·v, likewise.
inline float extended_multiply_add_plus(float p, float q, float s, float u, float v) {
  return static_cast<float>((exact_product(p, q) + Extended{s}) + exact_product(u, v));
}

// x / y.
inline float extended_quotient(float x, Extended y) {
  return static_cast<float>(Extended{x} / y);
}

}  // namespace tarvel

// Gauss-Jordan inversion of a complex matrix held as real and imaginary parts.
#pragma once

#include <cstdint>
#include <stop_token>

#include "runtime/arrays.h"

namespace tarvel {

// Inverts A = (ar, ai) of order n into B = (br, bi), both allocated n x n.
// A is working storage and is left reduced to the identity (elements that
// counted as zero keep their value); every element of B is overwritten.
// Pivots are taken on the diagonal without row exchanges; a pivot whose
// squared magnitude is zero or NaN is replaced by 1e-37. Returns false, with
// B unfinished, when `stop` is requested (looked at before each pivot); else
// true. Does not allocate.
bool invert_complex_matrix(Array2<float>& ar, Array2<float>& ai, Array2<float>& br,
                           Array2<float>& bi, std::int64_t n, const std::stop_token& stop = {});

}  // namespace tarvel

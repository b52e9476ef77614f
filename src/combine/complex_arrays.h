// Complex vectors and matrices as pairs of single-precision arrays: the tool
// has no complex number type, every complex quantity is a real and an
// imaginary part stored apart.
#pragma once

#include "runtime/arrays.h"

namespace tarvel {

// K complex values, indices 1..K.
struct ComplexVector {
  Array1<float> re;
  Array1<float> im;
};

// K x K complex values, indices (row, column), each 1..K.
struct ComplexMatrix {
  Array2<float> re;
  Array2<float> im;
};

}  // namespace tarvel

// The straightforward extended-precision evaluation of the hot loops of the
// channel statistics and the combining: every formula widened to the
// extended type in the order it is written and rounded once when stored. The
// fast versions in channel_statistics.cpp and combining.cpp must give the same
// bits; the tests and the benchmarks check them against these, and the tool
// never calls them, so they are built beside the tests, not into the tool.
#pragma once

#include "combine/combining.h"
#include "combine/complex_arrays.h"
#include "runtime/arrays.h"

namespace tarvel::reference {

// As tarvel::compute_means_and_covariance.
void compute_means_and_covariance(const Array2<float>& xr, const Array2<float>& xi,
                                  ComplexVector& m, ComplexMatrix& R);

// As tarvel::combine_signal.
void combine_signal(const Array2<float>& xr, const Array2<float>& xi, const ComplexVector& v,
                    Array1<float>& yr, Array1<float>& yi);

// As tarvel::compute_combined_statistics.
CombinedStatistics compute_combined_statistics(const Array1<float>& yr, const Array1<float>& yi);

}  // namespace tarvel::reference

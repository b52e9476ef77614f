// The vector instruction sets the combine kernels are built for, and the
// choice among them at run time.
#pragma once

namespace tarvel::detail {

// kScalar evaluates one value at a time in double precision, kSse2 two
// doubles per instruction (every x86-64 has it), kAvx2 four. All three give
// the same bits.
enum class SimdLevel { kScalar, kSse2, kAvx2 };

// Whether this processor can run `level`.
bool simd_level_supported(SimdLevel level);

// The widest level this processor supports, found once.
SimdLevel best_simd_level();

}  // namespace tarvel::detail

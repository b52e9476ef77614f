// The vector widths the combine kernels are built for, and the choice among
// them at run time.
#pragma once

namespace tarvel::detail {

// kScalar evaluates one value at a time in double precision; kVector128 two
// doubles per instruction (SSE2, which every x86-64 has, or NEON on aarch64),
// kVector256 four (AVX2). All of them give the same bits. No kernel goes
// wider: the covariance's chunks of four columns fill no wider vector, and
// the combined signal measured no faster with eight lanes than with four.
enum class SimdLevel { kScalar, kVector128, kVector256 };

// Whether this processor can run `level`.
bool simd_level_supported(SimdLevel level);

// The widest level this processor supports, found once.
SimdLevel best_simd_level();

}  // namespace tarvel::detail

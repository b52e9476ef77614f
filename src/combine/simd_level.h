// The vector widths the combine kernels are built for, and the choice among
// them at run time.
#pragma once

namespace tarvel::detail {

// kScalar evaluates one value at a time in double precision; kVector128 two
// doubles per instruction (SSE2, which every x86-64 has, or NEON on aarch64),
// kVector256 four (AVX2), kVector512 eight (AVX-512F), each kernel taking the
// widest vectors that pay up to its level. All of them give the same bits.
enum class SimdLevel { kScalar, kVector128, kVector256, kVector512 };

// Whether this processor can run `level`.
bool simd_level_supported(SimdLevel level);

// The widest level this processor supports, found once.
SimdLevel best_simd_level();

}  // namespace tarvel::detail

#include "combine/simd_level.h"

#include "runtime/simd.h"

namespace tarvel::detail {

bool simd_level_supported(SimdLevel level) {
  switch (level) {
    case SimdLevel::kScalar:
    case SimdLevel::kVector128:
      return true;
    case SimdLevel::kVector256:
#if TARVEL_SIMD_X86
      __builtin_cpu_init();  // may run before the library's own initialisation
      return __builtin_cpu_supports("avx2") != 0;
#else
      return false;
#endif
  }
  return false;
}

SimdLevel best_simd_level() {
  static const SimdLevel best =
      simd_level_supported(SimdLevel::kVector256) ? SimdLevel::kVector256 : SimdLevel::kVector128;
  return best;
}

}  // namespace tarvel::detail

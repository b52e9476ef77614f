#include "combine/simd_level.h"

namespace tarvel::detail {

bool simd_level_supported(SimdLevel level) {
  switch (level) {
    case SimdLevel::kScalar:
    case SimdLevel::kSse2:
      return true;
    case SimdLevel::kAvx2:
      __builtin_cpu_init();  // may run before the library's own initialisation
      return __builtin_cpu_supports("avx2") != 0;
  }
  return false;
}

SimdLevel best_simd_level() {
  static const SimdLevel best =
      simd_level_supported(SimdLevel::kAvx2) ? SimdLevel::kAvx2 : SimdLevel::kSse2;
  return best;
}

}  // namespace tarvel::detail

#include "runtime/arrays.h"

#include <limits>

namespace tarvel::detail {

RuntimeErrorCode allocate_zeroed(std::int64_t rows, std::int64_t columns, std::size_t size,
                                 void** storage) {
  if (rows < 1 || columns < 1) return kIllegalFunctionCall;
  // Bounds are 32-bit in the design; a larger count is refused rather than
  // wrapped into a smaller array.
  constexpr std::int64_t kMaxBound = std::numeric_limits<std::int32_t>::max();
  if (rows > kMaxBound || columns > kMaxBound) return kOutOfMemory;
  std::size_t elements = 0;
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<std::size_t>(rows), static_cast<std::size_t>(columns),
                             &elements) ||
      __builtin_mul_overflow(elements, size, &bytes)) {
    return kOutOfMemory;
  }
  void* memory = std::calloc(elements, size);
  if (memory == nullptr) return kOutOfMemory;
  *storage = memory;
  return kNoError;
}

}  // namespace tarvel::detail

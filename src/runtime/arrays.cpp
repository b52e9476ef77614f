#include "runtime/arrays.h"

#include <limits>

#include "platform/memory.h"

namespace tarvel::detail {
namespace {

constexpr std::size_t kLargeArrayBytes = std::size_t{4} << 20;

}  // namespace

RuntimeErrorCode allocate_zeroed(std::int64_t rows, std::int64_t columns, std::size_t size,
                                 void** storage) {
  if (rows < 1 || columns < 1) return kIllegalFunctionCall;
  if (rows > kMaxCount || columns > kMaxCount) return kOutOfMemory;
  std::size_t elements = 0;
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<std::size_t>(rows), static_cast<std::size_t>(columns),
                             &elements) ||
      __builtin_mul_overflow(elements, size, &bytes)) {
    return kOutOfMemory;
  }
  void* memory = std::calloc(elements, size);
  if (memory == nullptr) return kOutOfMemory;
  // A large array is fresh memory that the run fills whole, soon.
  if (bytes >= kLargeArrayBytes) platform::advise_large_pages(memory, bytes);
  *storage = memory;
  return kNoError;
}

}  // namespace tarvel::detail

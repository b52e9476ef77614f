// How much of the statistics' and the combining's work is worth a thread.
#pragma once

#include <algorithm>
#include <cstdint>

namespace tarvel {

// The fewest products a part of shared work takes: below it, starting a
// thread costs more than it saves.
inline constexpr std::int64_t kMinSharedProducts = std::int64_t{1} << 16;

// Into how many parts `products` products are shared: one per worker, at
// most `most` (and at least one), each of at least kMinSharedProducts.
inline int shared_parts(std::int64_t products, int workers, std::int64_t most) {
  const std::int64_t limit = std::max<std::int64_t>(1, std::min<std::int64_t>(workers, most));
  return static_cast<int>(std::clamp<std::int64_t>(products / kMinSharedProducts, 1, limit));
}

}  // namespace tarvel

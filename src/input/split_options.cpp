#include "input/split_options.h"

#include <algorithm>

#include "runtime/helper_thread.h"

namespace tarvel {

int pass_workers(const SplitOptions& options) {
  return options.workers > 0 ? std::min(options.workers, kMaxWorkers) : worker_count();
}

int piece_count(std::uint64_t file_size, const SplitOptions& options) {
  const auto workers = static_cast<std::uint64_t>(pass_workers(options));
  if (options.min_piece_size == 0) return static_cast<int>(workers);
  return static_cast<int>(
      std::clamp<std::uint64_t>(file_size / options.min_piece_size, 1, workers));
}

}  // namespace tarvel

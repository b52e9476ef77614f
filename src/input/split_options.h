// When the input's passes share their work among threads.
#pragma once

#include <cstdint>

namespace tarvel {

struct SplitOptions {
  // The smallest piece a thread takes: a file of 2 pieces' size and more is
  // shared. 0 shares every file among all the workers (for tests).
  std::uint64_t min_piece_size = std::uint64_t{512} * 1024;
  // The threads the passes may use, the calling one included; 0 for
  // worker_count()'s. With one, no other thread is started.
  int workers = 0;
};

// The threads `options` lets the passes use.
int pass_workers(const SplitOptions& options);

// Into how many pieces a file of `file_size` bytes is cut: one per worker,
// as long as each piece keeps the smallest size.
int piece_count(std::uint64_t file_size, const SplitOptions& options);

}  // namespace tarvel

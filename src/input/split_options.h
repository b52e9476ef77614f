// When the input's passes share their work with a helper thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "input/input_file.h"

namespace tarvel {

struct SplitOptions {
  // Files of at least this many bytes.
  std::uint64_t min_size = std::uint64_t{1} << 20;
  // Whether the main thread waits for the helper to find its place before
  // reading: the helper is then sure to be used wherever it can be, which
  // the tests of small files need. Without it, a main thread that passes the
  // helper's place first reads on alone.
  bool wait_for_place = false;
  // The chunk size of the first pass's reads: small in tests, so that small
  // files take several reads and the helper's place can lie ahead.
  std::size_t first_pass_chunk = kInputBufferSize;
  // The threads the passes may use, the calling one included; 0 for
  // worker_count()'s. With one, no helper is started.
  int workers = 0;
};

// The threads `options` lets the passes use.
int pass_workers(const SplitOptions& options);

}  // namespace tarvel

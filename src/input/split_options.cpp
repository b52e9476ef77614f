#include "input/split_options.h"

#include "runtime/helper_thread.h"

namespace tarvel {

int pass_workers(const SplitOptions& options) {
  return options.workers > 0 ? options.workers : worker_count();
}

}  // namespace tarvel

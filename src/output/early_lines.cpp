#include "output/early_lines.h"

#include <new>

#include "output/output_lines.h"

namespace tarvel {

void EarlyLines::start(const OutputColumns& columns, std::size_t capacity) {
  // A helper thread is for a second processor only.
  if (capacity < kBlockCapacity || worker_count() < 2) return;
  buffer_.reset(new (std::nothrow) char[capacity]);
  if (buffer_ == nullptr) return;
  const std::int64_t count = block_count(columns.size);
  const bool started = thread_.start([this, columns, capacity, count] {
    for (std::int64_t block = 0; block < count && size_ + kBlockCapacity <= capacity; ++block) {
      if (stop_.load(std::memory_order_relaxed)) return;
      size_ += format_block(columns, block, buffer_.get() + size_);
      blocks_ = block + 1;
    }
  });
  if (!started) buffer_.reset();
}

void EarlyLines::stop() {
  stop_.store(true, std::memory_order_relaxed);
  thread_.join();
}

}  // namespace tarvel

// The first blocks of the output file formatted early, on a helper thread,
// while the main thread finishes the statistics of the combined signal and
// opens the file: work for the second core, which would otherwise wait.
// Only bytes in memory: the file is opened and written in the usual order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "output/output_lines.h"
#include "runtime/arrays.h"
#include "runtime/helper_thread.h"

namespace tarvel {

class EarlyLines {
 public:
  EarlyLines() = default;
  ~EarlyLines() { stop(); }
  EarlyLines(const EarlyLines&) = delete;
  EarlyLines& operator=(const EarlyLines&) = delete;

  // Starts formatting blocks 0, 1, ... of the lines of t, yr and yi, which
  // must stay unchanged, into a buffer of `capacity` bytes, as many whole
  // blocks as fit. Does nothing when the buffer or the thread cannot be had.
  void start(const OutputColumns& columns, std::size_t capacity);
  void start(const Array1<double>& t, const Array1<float>& yr, const Array1<float>& yi,
             std::size_t capacity) {
    start(columns_of(t, yr, yi), capacity);
  }

  // Stops the helper and waits for it. Then: the blocks formatted, and their
  // bytes.
  void stop();
  std::int64_t blocks() const { return blocks_; }
  const char* bytes() const { return buffer_.get(); }
  std::size_t size() const { return size_; }

 private:
  HelperThread thread_;
  std::unique_ptr<char[]> buffer_;
  std::atomic<bool> stop_{false};
  std::int64_t blocks_ = 0;
  std::size_t size_ = 0;
};

}  // namespace tarvel

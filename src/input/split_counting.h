// Counting the lines of a large input on two threads. A helper thread finds
// the first line start after the middle of the file and counts the lines from
// there to the end, while the main thread counts the lines before it. Every
// LF ends a line, so that place is a line start for the main thread too, and
// the lines of the two parts add up to the lines of the whole; the main
// thread only takes the helper's count when its own counting arrives at
// exactly that place, and otherwise counts on by itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "input/split_point.h"
#include "input/two_pass_reader.h"
#include "runtime/helper_thread.h"

namespace tarvel {

class SecondHalfCounter {
 public:
  SecondHalfCounter() = default;
  ~SecondHalfCounter() { cancel(); }
  SecondHalfCounter(const SecondHalfCounter&) = delete;
  SecondHalfCounter& operator=(const SecondHalfCounter&) = delete;

  // Starts the helper on a descriptor of its own for the file `name`, when
  // the file that `main_fd` reads is at least `options.min_size` bytes long
  // and the name still leads to that same file.
  void start(std::string_view name, int main_fd, const SplitOptions& options);

  // Where the main thread's counting is to stop: the helper's place in the
  // delivered stream once it is known, beyond any offset before that.
  const std::atomic<std::uint64_t>* main_stop() const { return &main_stop_; }

  // For the main thread, once its counting has stopped at `offset`: the
  // number of lines from there to the end when the helper counted exactly
  // those, else -1 (the helper is stopped then).
  std::int64_t lines_from(std::uint64_t offset);

  // Tells the helper to stop and waits for it.
  void cancel();

  // After lines_from gave a count: the helper's place, and the version of
  // the file it was found in.
  KnownSplit place() const { return {place_, version_}; }

 private:
  void run(int fd, std::uint64_t file_size);

  SplitPoint place_;
  FileVersion version_;
  HelperThread thread_;
  // Whether the helper has looked for its place yet, for wait_for_place.
  std::atomic<bool> place_sought_{false};
  std::atomic<std::uint64_t> main_stop_{~std::uint64_t{0}};
  // Lowered to 0 to stop the helper's own counting.
  std::atomic<std::uint64_t> helper_stop_{~std::uint64_t{0}};
  std::int64_t helper_lines_ = -1;
};

}  // namespace tarvel

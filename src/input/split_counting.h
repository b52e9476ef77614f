// Counting the lines of a large input on two threads. A helper thread finds
// the first line start after the middle of the file and counts the lines from
// there to the end, while the main thread counts the lines before it. Every
// LF ends a line, so that place is a line start for the main thread too, and
// the lines of the two parts add up to the lines of the whole. The main
// thread marks the place in its own reading, which finds where it lies in the
// delivered stream as it passes; it takes the helper's count only when its
// counting stops exactly there, and otherwise counts on by itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string_view>

#include "input/split_options.h"
#include "input/split_point.h"
#include "runtime/helper_thread.h"

namespace tarvel {

class SecondHalfCounter {
 public:
  SecondHalfCounter() = default;
  ~SecondHalfCounter() { cancel(); }
  SecondHalfCounter(const SecondHalfCounter&) = delete;
  SecondHalfCounter& operator=(const SecondHalfCounter&) = delete;

  // Starts the helper on a file handle of its own for the file `name`, when
  // the file that `main` reads is at least `options.min_size` bytes long
  // and the name still leads to that same file.
  void start(std::string_view name, platform::FileHandle main, const SplitOptions& options,
             const std::stop_token& stop = {});

  // The helper's place in the file, the first line start after the middle:
  // waits for the helper to find it (a short search), none when there is no
  // helper or no such place.
  std::optional<std::uint64_t> raw_place();

  // For the main thread, once its counting has stopped: when it stopped at
  // the helper's place, the number of lines from there to the end, which the
  // helper counted; else -1, and the helper is stopped.
  std::int64_t lines_from_place(bool stopped_at_place);

  // Tells the helper to stop and waits for it.
  void cancel();

  // The version of the file the helper opened.
  const FileVersion& version() const { return version_; }

 private:
  void run(platform::FileHandle handle, std::uint64_t file_size, const std::stop_token& stop);

  HelperThread thread_;
  bool started_ = false;
  FileVersion version_;
  std::atomic<bool> place_sought_{false};
  std::uint64_t raw_place_ = kNoPlace;
  // Lowered to 0 to stop the helper's counting.
  std::atomic<std::uint64_t> helper_stop_{~std::uint64_t{0}};
  std::int64_t helper_lines_ = -1;

  static constexpr std::uint64_t kNoPlace = ~std::uint64_t{0};
};

}  // namespace tarvel

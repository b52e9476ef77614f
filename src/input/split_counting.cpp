#include "input/split_counting.h"

#include "input/input_file.h"
#include "input/line_reader.h"
#include "input/split_reading.h"
#include "platform/waiting.h"

namespace tarvel {

void SecondHalfCounter::start(std::string_view name, platform::FileHandle main,
                              const SplitOptions& options, const std::stop_token& stop) {
  if (pass_workers(options) < 2) return;
  const platform::FileHandle file = open_for_helper(name, main, options.min_size, version_);
  if (file == platform::kNoFile) return;
  const auto file_size = static_cast<std::uint64_t>(version_.size);
  started_ = thread_.start([this, file, file_size, stop] { run(file, file_size, stop); });
  if (!started_) platform::close_file(file);
}

void SecondHalfCounter::run(platform::FileHandle handle, std::uint64_t file_size,
                            const std::stop_token& stop) {
  InputFile file;
  {
    // Whatever comes of it, the search for the place is over when this
    // block is left.
    struct PlaceSought {
      std::atomic<bool>& flag;
      ~PlaceSought() {
        flag.store(true, std::memory_order_release);
        platform::wake_all(flag);
      }
    } sought{place_sought_};
    const std::optional<std::uint64_t> place = find_line_start_after(handle, file_size / 2);
    if (!place || !platform::seek_to(handle, *place)) {
      platform::close_file(handle);
      return;
    }
    if (open_detached_input(file, handle) != kNoError) return;
    file.stop = stop;
    raw_place_ = *place;
  }
  const std::int64_t lines = count_remaining_lines(file, &helper_stop_);
  // Stopped early, the count is short; but then it is not asked for.
  if (helper_stop_.load(std::memory_order_relaxed) != 0) helper_lines_ = lines;
  close_file(file);
}

std::optional<std::uint64_t> SecondHalfCounter::raw_place() {
  if (!started_) return std::nullopt;
  while (!place_sought_.load(std::memory_order_acquire))
    platform::wait_while_equal(place_sought_, false);
  if (raw_place_ == kNoPlace) return std::nullopt;
  return raw_place_;
}

std::int64_t SecondHalfCounter::lines_from_place(bool stopped_at_place) {
  if (!stopped_at_place) {
    cancel();
    return -1;
  }
  thread_.join();
  return helper_lines_;
}

void SecondHalfCounter::cancel() {
  helper_stop_.store(0, std::memory_order_release);
  thread_.join();
  helper_lines_ = -1;
}

}  // namespace tarvel

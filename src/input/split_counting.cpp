#include "input/split_counting.h"

#include <unistd.h>

#include "input/input_file.h"
#include "input/line_reader.h"
#include "input/split_reading.h"

namespace tarvel {

void SecondHalfCounter::start(std::string_view name, int main_fd, const SplitOptions& options) {
  struct stat status {};
  const int fd = open_for_helper(name, main_fd, options.min_size, status);
  if (fd < 0) return;
  const auto file_size = static_cast<std::uint64_t>(status.st_size);
  version_ = version_of(status);
  started_ = thread_.start([this, fd, file_size] { run(fd, file_size); });
  if (!started_) ::close(fd);
}

void SecondHalfCounter::run(int fd, std::uint64_t file_size) {
  InputFile file;
  {
    // Whatever comes of it, the search for the place is over when this
    // block is left.
    struct PlaceSought {
      std::atomic<bool>& flag;
      ~PlaceSought() {
        flag.store(true, std::memory_order_release);
        flag.notify_all();
      }
    } sought{place_sought_};
    const std::optional<std::uint64_t> place = find_line_start_after(fd, file_size / 2);
    if (!place || ::lseek(fd, static_cast<off_t>(*place), SEEK_SET) < 0) {
      ::close(fd);
      return;
    }
    if (open_detached_input(file, fd) != kNoError) return;
    raw_place_ = *place;
  }
  const std::int64_t lines = count_remaining_lines(file, &helper_stop_);
  // Stopped early, the count is short; but then it is not asked for.
  if (helper_stop_.load(std::memory_order_relaxed) != 0) helper_lines_ = lines;
  close_file(file);
}

std::optional<std::uint64_t> SecondHalfCounter::raw_place() {
  if (!started_) return std::nullopt;
  place_sought_.wait(false, std::memory_order_acquire);
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

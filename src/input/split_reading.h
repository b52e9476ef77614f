// Reading the samples of a large input on two threads. A helper thread reads
// the samples of the second half of the file while the main thread reads the
// first. The helper begins at a line start and takes the sample number there
// to be one more than the line ends before it. Its rows count only when the
// main thread's own reading arrives at exactly that place in the delivered
// stream with exactly the samples before that number read: from the same
// place and sample, the reading goes the same whoever does it. Otherwise the
// main thread reads on by itself, so the samples are the same either way.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string_view>

#include "input/sample_table.h"
#include "input/split_options.h"
#include "input/split_point.h"
#include "runtime/helper_thread.h"

namespace tarvel {

// A file handle of a helper's own for the file `name`, and its version, when
// the file that `main` reads is a regular file of at least `min_size` bytes
// and the name still leads to that same file; kNoFile otherwise.
platform::FileHandle open_for_helper(std::string_view name, platform::FileHandle main,
                                     std::uint64_t min_size, FileVersion& version);

// The first line start after byte `from` of the file open as `file`, at
// least one byte before its end: the offset just after the first LF at or
// after `from`. Read at explicit offsets: the file's position is left to be
// set again.
std::optional<std::uint64_t> find_line_start_after(platform::FileHandle file, std::uint64_t from);

// The first line start at or after byte `from` of the file open as `file`,
// read at explicit offsets as above. None when no line end follows `from`,
// no byte follows that line end, or a Ctrl-Z ends the data before it.
std::optional<SplitPoint> find_split_point(platform::FileHandle file, std::uint64_t from);

class SecondHalfReader {
 public:
  SecondHalfReader() = default;
  ~SecondHalfReader() { cancel(); }
  SecondHalfReader(const SecondHalfReader&) = delete;
  SecondHalfReader& operator=(const SecondHalfReader&) = delete;

  // Starts the helper on a file handle of its own for the file `name`, when
  // the file that `main` reads is at least `options.min_size` bytes long
  // and the name still leads to that same file. The helper takes the place
  // `known` when the file is still at its version, else it looks for one.
  // It writes only the rows from its first sample on.
  void start(std::string_view name, platform::FileHandle main, const SplitOptions& options,
             std::int64_t sample_count, std::int64_t channel_count, SampleTable& table,
             const std::optional<KnownSplit>& known = std::nullopt,
             const std::stop_token& stop = {});

  // For the main thread, before it reads on to sample `reach` without
  // asking again: the number of the sample the helper reads first, or 0 (not
  // found yet, none, or after finish or cancel). The helper takes its place
  // only while the main thread's reach stays below it, so the two never
  // write the same row: once a reach covers the place, either this returns
  // it or the helper gives it up.
  std::int64_t look(std::int64_t reach);
  // The helper's place in the delivered stream; valid once look returned a
  // sample number.
  std::uint64_t start_offset() const { return start_offset_; }

  // Waits for the helper to end and returns the number of the last sample it
  // read (first_sample - 1 when the data ended right away), or -1 when it
  // gave up.
  std::int64_t finish();

  // Tells the helper to stop and waits for it; its rows are not to be used.
  void cancel();

  // After a cancel: the first row the helper may have written, 0 when none.
  std::int64_t first_row_written() const { return first_row_written_; }

 private:
  void run(platform::FileHandle file, const std::optional<SplitPoint>& known_place,
           std::uint64_t file_size, std::int64_t sample_count, std::int64_t channel_count,
           SampleTable& table, const std::stop_token& stop);

  HelperThread thread_;
  // Whether the helper has looked for its place yet, for wait_for_place.
  std::atomic<bool> place_sought_{false};
  std::atomic<std::int64_t> first_sample_{0};
  std::atomic<std::int64_t> main_reach_{0};
  std::uint64_t start_offset_ = 0;
  std::atomic<bool> stop_{false};
  std::int64_t last_sample_ = -1;
  std::int64_t first_row_written_ = 0;
};

}  // namespace tarvel

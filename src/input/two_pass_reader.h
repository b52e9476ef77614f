// The input file's two passes: count the lines and keep the first, count the
// channels, then read the samples as one stream of numeric fields.
#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "input/input_file.h"
#include "input/sample_table.h"
#include "input/split_options.h"
#include "input/split_point.h"
#include "runtime/arrays.h"
#include "runtime/runtime_error.h"

namespace tarvel {

inline constexpr int kInputFileNumber = 1;

// What the first pass found: S, and the first line without its line end.
struct FirstPass {
  std::int64_t line_count = 0;
  std::string first_line;
  // Where the pieces that other threads counted start, for the second pass.
  std::optional<KnownSplit> split;
};

// Where a pass registers its file and what stops it.
struct PassControl {
  // The input's number in the open-file table; 0 keeps it out of the table.
  int file_number = kInputFileNumber;
  // Ends every reading of the pass, its other threads' included, at its next chunk
  // once requested; the pass's result is then to be thrown away.
  std::stop_token stop;
};

// The guarded step of a pass that failed: its code and report line.
struct PassFailure {
  RuntimeErrorCode code = kNoError;
  int report_line = 0;
  int error_number = 0;  // the system's reason for a failed open, or 0
};

// Opens the input file (aborts at kFirstOpenLine), counts every line that the
// line reader delivers while keeping only the first, and closes it
// (kFirstCloseLine).
// Counts are 64-bit so that they never wrap. A large file has the lines of
// its pieces counted by other threads (see `split`), with the same
// result.
FirstPass count_lines(std::string_view input_name, const SplitOptions& split = {});

// The same, returning the failed step instead of aborting.
PassFailure count_lines(std::string_view input_name, FirstPass& result, const SplitOptions& split,
                        const PassControl& control);

// The channel count K = (n - 1) / 2 from the number n of space-separated rounds
// of the field count of `first_line`.
std::int64_t count_fields(std::string_view first_line);

// Opens the input file again (aborts at kSecondOpenLine), reads samples until
// S are read or the file ends before a sample begins, closes it
// (kSecondCloseLine), and
// returns the number of samples read. A large file has its pieces after the first read
// by other threads (see `split`), with the same result; they start at
// `known` when the file has not changed since that was found. Does not
// allocate per line or field.
std::int64_t read_samples(std::string_view input_name, std::int64_t sample_count,
                          std::int64_t channel_count, SampleTable& table,
                          const SplitOptions& split = {},
                          const std::optional<KnownSplit>& known = std::nullopt);

// The same, returning the failed step instead of aborting; `samples_read`
// receives the number of samples read.
PassFailure read_samples(std::string_view input_name, std::int64_t sample_count,
                         std::int64_t channel_count, SampleTable& table, std::int64_t& samples_read,
                         const SplitOptions& split, const std::optional<KnownSplit>& known,
                         const PassControl& control);

}  // namespace tarvel

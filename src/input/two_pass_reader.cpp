#include "input/two_pass_reader.h"

#include <algorithm>

#include "input/field_scanner.h"
#include "input/input_file.h"
#include "input/line_reader.h"
#include "input/sample_rows.h"
#include "input/split_counting.h"
#include "input/split_reading.h"

namespace tarvel {
namespace {

// Report line numbers of the guarded steps of the two passes.
constexpr int kFirstOpenLine = 19;
constexpr int kFirstCloseLine = 26;
constexpr int kSecondOpenLine = 41;
constexpr int kSecondCloseLine = 51;

// How many samples the second pass reads between two looks at its helper.
constexpr std::int64_t kSamplesPerLook = 64;

void check(const PassFailure& failure) {
  if (failure.code != kNoError) raise_runtime_error(failure.code, failure.report_line);
}

}  // namespace

FirstPass count_lines(std::string_view input_name, const SplitOptions& split) {
  FirstPass result;
  check(count_lines(input_name, result, split, PassControl{}));
  return result;
}

PassFailure count_lines(std::string_view input_name, FirstPass& result, const SplitOptions& split,
                        const PassControl& control) {
  InputFile file;
  if (RuntimeErrorCode code =
          open_for_input(file, input_name, control.file_number, split.first_pass_chunk);
      code != kNoError) {
    return {code, kFirstOpenLine};
  }
  file.stop = control.stop;
  result = FirstPass{};
  // Only the first line is kept; every later one is skipped without copying,
  // with the same boundaries that read_line would give it.
  if (!at_end_of_file(file)) {
    read_line(file, result.first_line);
    SecondHalfCounter helper;
    helper.start(input_name, file.handle, split, control.stop);
    // The helper's place, marked while the reading has not come to it yet.
    const std::optional<std::uint64_t> place = helper.raw_place();
    if (place && *place >= file.raw_offset) file.raw_mark = *place;
    // The count stops at the place once the reading has found it; without
    // a place it runs to the end.
    result.line_count = 1 + count_remaining_lines(file);
    const bool at_place =
        file.marked_offset != kNoMark && delivered_offset(file) == file.marked_offset;
    const std::int64_t rest = helper.lines_from_place(at_place);
    if (rest >= 0) {
      // The lines before the place number the sample that starts there.
      result.split =
          KnownSplit{{result.line_count + 1, file.marked_offset, *place}, helper.version()};
      result.line_count += rest;
    } else if (at_place) {
      // The helper could not count: on from the place, alone.
      file.marked_offset = kNoMark;
      result.line_count += count_remaining_lines(file);
    }
  }
  if (RuntimeErrorCode code = close_file(file); code != kNoError) return {code, kFirstCloseLine};
  return {};
}

std::int64_t count_fields(std::string_view first_line) {
  std::string_view working = first_line;
  while (!working.empty() && (working.back() == ' ' || working.back() == '\0')) {
    working.remove_suffix(1);
  }
  std::int64_t rounds = 0;
  for (;;) {
    const std::size_t leading = working.find_first_not_of(' ');
    if (leading == std::string_view::npos) return rounds / 2;  // this round finds no space
    // The position is found in the text less its leading spaces, but the
    // removal counts from the text with them.
    const std::size_t space = working.find(' ', leading);
    if (space == std::string_view::npos) return rounds / 2;
    const std::size_t position = space - leading + 1;
    if (position <= leading) {
      // The round removes leading spaces only and leaves the trimmed text as
      // it was, so the rounds that follow repeat it until fewer than
      // `position` leading spaces remain: count them all at once, keeping a
      // long run of leading spaces from costing one scan per round.
      const std::size_t repeats = leading / position;
      rounds += static_cast<std::int64_t>(repeats);
      working.remove_prefix(repeats * position);
    } else {
      ++rounds;
      working.remove_prefix(position);
    }
  }
}

std::int64_t read_samples(std::string_view input_name, std::int64_t sample_count,
                          std::int64_t channel_count, SampleTable& table, const SplitOptions& split,
                          const std::optional<KnownSplit>& known) {
  std::int64_t samples = 0;
  check(read_samples(input_name, sample_count, channel_count, table, samples, split, known,
                     PassControl{}));
  return samples;
}

PassFailure read_samples(std::string_view input_name, std::int64_t sample_count,
                         std::int64_t channel_count, SampleTable& table, std::int64_t& samples_read,
                         const SplitOptions& split, const std::optional<KnownSplit>& known,
                         const PassControl& control) {
  InputFile file;
  if (RuntimeErrorCode code = open_for_input(file, input_name, control.file_number);
      code != kNoError) {
    return {code, kSecondOpenLine};
  }
  file.stop = control.stop;
  SecondHalfReader helper;
  helper.start(input_name, file.handle, split, sample_count, channel_count, table, known,
               control.stop);
  NumericReader reader;
  begin_numeric_read(reader, file);
  std::int64_t samples = 0;
  std::int64_t reach = 0;
  std::int64_t helper_first = 0;
  // The end of the data is tested only before a sample: a sample it cuts
  // short is completed with zeros and still counts.
  while (samples < sample_count) {
    if (samples == reach) {
      reach = samples + kSamplesPerLook;
      helper_first = helper.look(reach);
    }
    if (samples + 1 == helper_first) {
      helper_first = 0;
      if (delivered_offset(file) == helper.start_offset()) {
        const std::int64_t last = helper.finish();
        if (last >= 0) {
          samples = last;
          break;
        }
      } else {
        helper.cancel();
      }
    }
    if (detail::sample_data_ended(file)) break;
    ++samples;
    detail::read_sample_row(reader, samples, channel_count, table);
  }
  helper.cancel();
  // Rows past the samples read stay as allocated, whoever read.
  if (const std::int64_t first = helper.first_row_written(); first != 0) {
    for (std::int64_t n = std::max(first, samples + 1); n <= sample_count; ++n) {
      table.t(n) = 0;
      std::fill_n(table.xr.row(n), channel_count, 0.0f);
      std::fill_n(table.xi.row(n), channel_count, 0.0f);
    }
  }
  samples_read = samples;
  if (RuntimeErrorCode code = close_file(file); code != kNoError) return {code, kSecondCloseLine};
  return {};
}

}  // namespace tarvel

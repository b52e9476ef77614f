#include "input/two_pass_reader.h"

#include <algorithm>

#include "input/field_scanner.h"
#include "input/input_file.h"
#include "input/line_reader.h"
#include "input/sample_rows.h"
#include "input/split_pass.h"
#include "runtime/report_lines.h"

namespace tarvel {
namespace {

void check(const PassFailure& failure) {
  if (failure.code != kNoError) raise_runtime_error(failure.code, failure.report_line);
}

// Opens the input for a pass, under the pass's file number and stop token.
PassFailure open_for_pass(InputFile& file, std::string_view input_name, const PassControl& control,
                          int open_line) {
  const RuntimeErrorCode code = open_for_input(file, input_name, control.file_number);
  file.stop = control.stop;
  if (code == kNoError) return {};
  return {code, open_line, file.open_error_number};
}

// A piece of the first pass: its lines up to the next piece's start, or,
// when its counting does not stop exactly there, every line to the end.
PieceEnd count_piece(SplitPass& pass, int piece, InputFile& file) {
  std::int64_t lines = count_remaining_lines(file, pass.give_up_signal(piece));
  if (SplitPass::at_next_start(file)) return {lines, true};
  if (pass.given_up(piece)) return {lines, false};
  pass.give_up_from(piece + 1);
  file.raw_mark = kNoMark;
  file.marked_offset = kNoMark;
  lines += count_remaining_lines(file, pass.give_up_signal(piece));
  return {lines, false};
}

// What the second pass reads: S samples of K channels into the table.
struct SampleRange {
  std::int64_t sample_count;
  std::int64_t channel_count;
  SampleTable* table;
};

// A piece of the second pass: its samples up to the next piece's start, or,
// when its reading does not arrive there with exactly the samples before
// that piece's first, every sample to the end.
PieceEnd read_piece(SplitPass& pass, int piece, InputFile& file, const SampleRange& range) {
  const std::atomic<std::uint64_t>* give_up = pass.give_up_signal(piece);
  NumericReader reader;
  begin_numeric_read(reader, file);
  std::int64_t samples = pass.start_of(piece).first_sample - 1;
  if (const std::optional<SplitPoint> next = pass.next_start(piece)) {
    samples = detail::read_sample_range(file, reader, samples, next->first_sample - 1,
                                        range.channel_count, *range.table, give_up);
    if (samples == next->first_sample - 1 && SplitPass::at_next_start(file)) {
      return {samples, true};
    }
    if (pass.given_up(piece)) return {samples, false};
    pass.give_up_from(piece + 1);
  }
  samples = detail::read_sample_range(file, reader, samples, range.sample_count,
                                      range.channel_count, *range.table, give_up);
  return {samples, false};
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
  if (PassFailure failure = open_for_pass(file, input_name, control, kFirstOpenLine);
      failure.code != kNoError) {
    return failure;
  }
  result = FirstPass{};
  // Only the first line is kept; every later one is skipped without copying,
  // with the same boundaries that read_line would give it.
  // The marks go in before the first read.
  SplitPass pass;
  pass.plan(input_name, file.handle, split, SplitPass::Places::kLineStarts);
  pass.mark_next_start(0, file);
  if (!at_end_of_file(file)) {
    pass.start([&pass](int piece, InputFile& own) { return count_piece(pass, piece, own); },
               control.stop);
    read_line(file, result.first_line);
    PieceEnd end = count_piece(pass, 0, file);
    result.line_count = 1 + end.value;
    // The pieces the counting reached in turn, with the lines before each.
    KnownSplit known{{}, pass.version()};
    for (int piece = 1; end.reached_next; ++piece) {
      known.places.push_back({pass.start_of(piece).raw_offset, result.line_count + 1});
      end = pass.end_of(piece);
      result.line_count += end.value;
    }
    if (!known.places.empty()) result.split = std::move(known);
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
  if (PassFailure failure = open_for_pass(file, input_name, control, kSecondOpenLine);
      failure.code != kNoError) {
    return failure;
  }
  SplitPass pass;
  if (sample_count > 1) {
    pass.plan(input_name, file.handle, split, SplitPass::Places::kWithSampleNumbers,
              known ? &*known : nullptr, sample_count);
  }
  const SampleRange range{sample_count, channel_count, &table};
  pass.mark_next_start(0, file);
  pass.start([&](int piece, InputFile& own) { return read_piece(pass, piece, own, range); },
             control.stop);
  PieceEnd end = read_piece(pass, 0, file, range);
  for (int piece = 1; end.reached_next; ++piece) end = pass.end_of(piece);
  const std::int64_t samples = end.value;
  // Rows past the samples read stay as allocated, whoever wrote them.
  for (std::int64_t n = samples + 1; n <= pass.highest_value(); ++n) {
    table.t(n) = 0;
    std::fill_n(table.xr.row(n), channel_count, 0.0f);
    std::fill_n(table.xi.row(n), channel_count, 0.0f);
  }
  samples_read = samples;
  if (RuntimeErrorCode code = close_file(file); code != kNoError) return {code, kSecondCloseLine};
  return {};
}

}  // namespace tarvel

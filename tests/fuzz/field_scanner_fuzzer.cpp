// Fuzz target of the numeric field scanner and the conversions. Any bytes are
// (1) converted directly as one field text, with and without the float mark,
// (2) written to a file and cut into fields by a chosen mix of scan_field,
// read_double_field and read_single_field, and (3) read by the second pass
// with 1 to 4 channels, alone and with a helper thread. Every text, float
// mark, end-of-file answer and value is checked against the byte-at-a-time
// reference, and every floating value against strtod in the "C" locale, bit
// for bit, as a double and then rounded to single.
//
// Input: byte 0 picks the chunk size, byte 1 the channel count of the second
// pass, bytes 2 and 3 seed the order of the reads, the rest is the file.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "input/field_scanner.h"
#include "input/input_file.h"
#include "input/number_conversion.h"
#include "input/two_pass_reader.h"
#include "runtime/open_files.h"

namespace tarvel::fuzz {
namespace {

constexpr int kFileNumber = 1;

void expect_double(double value, std::string_view text, bool float_mark, const char* what) {
  const double want = reference_double(text, float_mark);
  if (!same_bits(value, want)) {
    fail("%s of \"%s\"%s gave %s, expected %s", what, visible(text).c_str(),
         float_mark ? " (float mark)" : "", hex(value).c_str(), hex(want).c_str());
  }
}

void expect_single(float value, std::string_view text, bool float_mark, const char* what) {
  const float want = reference_single(text, float_mark);
  if (!same_bits(value, want)) {
    fail("%s of \"%s\"%s gave %s, expected %s", what, visible(text).c_str(),
         float_mark ? " (float mark)" : "", hex(value).c_str(), hex(want).c_str());
  }
}

// Every conversion entry point on an arbitrary text.
void check_conversions(std::string_view text) {
  for (const bool float_mark : {false, true}) {
    const ConversionPath path = choose_conversion(text, float_mark);
    const ReferencePath want = reference_path(text, float_mark);
    if (static_cast<int>(path) != static_cast<int>(want)) {
      fail("choose_conversion of \"%s\" gave %d, expected %d", visible(text).c_str(),
           static_cast<int>(path), static_cast<int>(want));
    }
    expect_double(convert_to_double(text, float_mark), text, float_mark, "convert_to_double");
    expect_single(convert_to_single(text, float_mark), text, float_mark, "convert_to_single");
  }
  const std::int64_t value32 = parse_integer(text, IntegerWidth::k32);
  const std::int64_t value64 = parse_integer(text, IntegerWidth::k64);
  if (value32 != reference_integer(text, 32) || value64 != reference_integer(text, 64)) {
    fail("parse_integer of \"%s\" gave %lld and %lld, expected %lld and %lld",
         visible(text).c_str(), static_cast<long long>(value32), static_cast<long long>(value64),
         static_cast<long long>(reference_integer(text, 32)),
         static_cast<long long>(reference_integer(text, 64)));
  }
  const double floating = parse_floating(text);
  if (!same_bits(floating, reference_strtod(text))) {
    fail("parse_floating of \"%s\" gave %s, strtod %s", visible(text).c_str(),
         hex(floating).c_str(), hex(reference_strtod(text)).c_str());
  }
}

void scan_with_schedule(const std::string& path, const std::string& delivered,
                        std::size_t buffer_size, Schedule schedule) {
  InputFile file;
  if (RuntimeErrorCode code = open_for_input(file, path, kFileNumber, buffer_size);
      code != kNoError) {
    fail("open_for_input gave %d", static_cast<int>(code));
  }
  NumericReader reader;
  if (begin_numeric_read(reader, file) != kNoError) fail("begin_numeric_read refused");
  ReferenceScanner reference(delivered);
  // Past the end every read gives an empty field and 0; try a few.
  int reads_past_end = 0;
  for (std::size_t field_number = 1;; ++field_number) {
    const bool at_end = reference.at_end();
    if (at_end_of_file(file) != at_end) {
      fail("at_end_of_file is %d before field %zu, expected %d (chunks of %zu)", !at_end,
           field_number, at_end, buffer_size);
    }
    if (at_end && ++reads_past_end > 3) break;
    const ReferenceField want = reference.scan();
    switch (schedule.next(5)) {
      case 0:
      case 1: {
        FieldText field;
        scan_field(file, field);
        if (field.text() != want.text || field.float_mark != want.float_mark) {
          fail("field %zu is \"%s\"%s, expected \"%s\"%s (chunks of %zu)", field_number,
               visible(field.text()).c_str(), field.float_mark ? " (float mark)" : "",
               visible(want.text).c_str(), want.float_mark ? " (float mark)" : "", buffer_size);
        }
        check_conversions(field.text());
        break;
      }
      case 2:
        expect_double(read_double_field(reader), want.text, want.float_mark, "read_double_field");
        break;
      case 3:
        expect_single(read_single_field(reader), want.text, want.float_mark, "read_single_field");
        break;
      default:
        // A new statement starts where the last one stopped.
        if (begin_numeric_read(reader, file) != kNoError) fail("begin_numeric_read refused");
        expect_double(read_double_field(reader), want.text, want.float_mark, "read_double_field");
        break;
    }
  }
  if (close_file(file) != kNoError) fail("close_file of an open file failed");
  NumericReader closed;
  if (begin_numeric_read(closed, file) != kIllegalFunctionCall) {
    fail("begin_numeric_read accepted a closed file");
  }
}

void check_second_pass(const std::string& path, const std::string& delivered,
                       std::int64_t channel_count, const SplitOptions& split,
                       const std::optional<KnownSplit>& known = std::nullopt) {
  const std::int64_t sample_count = static_cast<std::int64_t>(reference_lines(delivered).size());
  if (sample_count == 0) return;
  SampleTable table;
  if (allocate_sample_table(table, sample_count, channel_count) != kNoError) {
    fail("allocate_sample_table(%lld, %lld) failed", static_cast<long long>(sample_count),
         static_cast<long long>(channel_count));
  }
  const std::int64_t read = read_samples(path, sample_count, channel_count, table, split, known);
  const ReferenceSamples want = reference_read_samples(delivered, sample_count, channel_count);
  if (read != want.read) {
    fail("read_samples read %lld of %lld samples, expected %lld", static_cast<long long>(read),
         static_cast<long long>(sample_count), static_cast<long long>(want.read));
  }
  const std::size_t k = static_cast<std::size_t>(channel_count);
  for (std::int64_t n = 1; n <= sample_count; ++n) {
    const std::size_t row = static_cast<std::size_t>(n - 1);
    if (!same_bits(table.t(n), want.t[row])) {
      fail("t(%lld) is %s, expected %s", static_cast<long long>(n), hex(table.t(n)).c_str(),
           hex(want.t[row]).c_str());
    }
    for (std::int64_t c = 1; c <= channel_count; ++c) {
      const std::size_t at = row * k + static_cast<std::size_t>(c - 1);
      if (!same_bits(table.xr(n, c), want.xr[at]) || !same_bits(table.xi(n, c), want.xi[at])) {
        fail("sample %lld channel %lld is %s %s, expected %s %s", static_cast<long long>(n),
             static_cast<long long>(c), hex(table.xr(n, c)).c_str(), hex(table.xi(n, c)).c_str(),
             hex(want.xr[at]).c_str(), hex(want.xi[at]).c_str());
      }
    }
  }
}

}  // namespace
}  // namespace tarvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel;
  using namespace tarvel::fuzz;
  static MemoryFile memory_file;

  const SplitInput<4> input(data, size);
  check_conversions(input.file);

  memory_file.write(input.file);
  const std::string delivered = reference_delivery(input.file);
  scan_with_schedule(
      memory_file.path(), delivered, pick_buffer_size(input.control[0]),
      Schedule(static_cast<std::uint32_t>(input.control[2] << 8 | input.control[3])));
  // Alone, and shared among 2 to 17 threads, from places of their own or
  // from the ones the first pass found.
  const std::int64_t channels = 1 + (input.control[1] & 3);
  const SplitOptions shared{0, 2 + (input.control[1] >> 4)};
  check_second_pass(memory_file.path(), delivered, channels, SplitOptions{0, 1});
  check_second_pass(memory_file.path(), delivered, channels, shared);
  check_second_pass(memory_file.path(), delivered, channels, shared,
                    count_lines(memory_file.path(), shared).split);
  if (is_file_open(kInputFileNumber) || is_file_open(2)) fail("a file is left open");
  return 0;
}

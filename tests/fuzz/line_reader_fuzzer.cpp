// Fuzz target of the input file and the line reader: any bytes as a file, read
// in chunks of a chosen size by a chosen mix of read_line, skip_line,
// count_remaining_lines, at_end_of_file and single-byte takes, each result
// checked against the byte-at-a-time reference; then the first pass over the
// same file, alone and shared with a helper thread.
//
// Input: byte 0 picks the chunk size, bytes 1 and 2 seed the order of the
// operations, the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "input/input_file.h"
#include "input/line_reader.h"
#include "input/two_pass_reader.h"
#include "runtime/open_files.h"

namespace tarvel::fuzz {
namespace {

constexpr int kFileNumber = 1;

// Operations after the end of the data, each of which must change nothing.
void check_at_end(InputFile& file, std::string& line) {
  if (!at_end_of_file(file)) fail("at_end_of_file false after the last line");
  line = "left over";
  read_line(file, line);
  if (!line.empty()) fail("read_line at the end gave \"%s\"", visible(line).c_str());
  skip_line(file);
  if (const std::int64_t count = count_remaining_lines(file); count != 0) {
    fail("count_remaining_lines at the end gave %lld", static_cast<long long>(count));
  }
  if (take_byte(file) != kNoByte) fail("take_byte at the end gave a byte");
  if (!at_end_of_file(file)) fail("at_end_of_file false after reads at the end");
}

void read_with_schedule(const std::string& path, const std::string& delivered,
                        std::size_t buffer_size, Schedule schedule) {
  InputFile file;
  if (RuntimeErrorCode code = open_for_input(file, path, kFileNumber, buffer_size);
      code != kNoError) {
    fail("open_for_input gave %d", static_cast<int>(code));
  }
  std::size_t position = 0;  // in the delivered bytes
  std::string line;
  std::string expected;
  for (;;) {
    const bool at_end = position >= delivered.size();
    if (at_end_of_file(file) != at_end) {
      fail("at_end_of_file is %d at delivered byte %zu of %zu (chunks of %zu)", !at_end, position,
           delivered.size(), buffer_size);
    }
    if (at_end) break;
    switch (schedule.next(16)) {
      case 0:
      case 1:
      case 2:
      case 3:
      case 4:
      case 5:
      case 6: {
        reference_next_line(delivered, position, expected);
        read_line(file, line);
        if (line != expected) {
          fail(
              "read_line gave \"%s\", expected \"%s\" (line ends at delivered byte %zu, chunks of "
              "%zu)",
              visible(line).c_str(), visible(expected).c_str(), position, buffer_size);
        }
        break;
      }
      case 7:
      case 8:
      case 9:
      case 10:
        reference_next_line(delivered, position, expected);
        skip_line(file);
        break;
      case 11:
        // Asked twice in a row: the same answer, nothing consumed (checked
        // by the loop's test and the reads that follow).
        if (at_end_of_file(file)) fail("at_end_of_file changed when asked again");
        break;
      case 12: {
        const int byte = take_byte(file);
        const int want = static_cast<unsigned char>(delivered[position++]);
        if (byte != want) {
          fail("take_byte gave %d, expected %d at delivered byte %zu", byte, want, position - 1);
        }
        break;
      }
      case 13: {
        const int byte = take_byte(file);
        put_back(file);
        if (at_end_of_file(file)) fail("at_end_of_file true with a byte put back");
        const int again = take_byte(file);
        const int want = static_cast<unsigned char>(delivered[position++]);
        if (byte != want || again != want) {
          fail("take_byte gave %d, then %d after put_back, expected %d", byte, again, want);
        }
        break;
      }
      default: {
        const std::int64_t want =
            static_cast<std::int64_t>(reference_lines(delivered, position).size());
        const std::int64_t count = count_remaining_lines(file);
        if (count != want) {
          fail(
              "count_remaining_lines gave %lld, expected %lld from delivered byte %zu (chunks of "
              "%zu)",
              static_cast<long long>(count), static_cast<long long>(want), position, buffer_size);
        }
        position = delivered.size();
        break;
      }
    }
  }
  check_at_end(file, line);
  if (close_file(file) != kNoError) fail("close_file of an open file failed");
  if (close_file(file) != kIllegalFunctionCall) fail("second close_file did not give 1");
  if (!at_end_of_file(file)) fail("at_end_of_file false on a closed file");
}

}  // namespace
}  // namespace tarvel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel;
  using namespace tarvel::fuzz;
  static MemoryFile memory_file;

  const SplitInput<3> input(data, size);
  memory_file.write(input.file);
  const std::string delivered = reference_delivery(input.file);

  // Every line by read_line, with the chunk size asked for.
  const std::size_t buffer_size = pick_buffer_size(input.control[0]);
  read_with_schedule(
      memory_file.path(), delivered, buffer_size,
      Schedule(static_cast<std::uint32_t>(input.control[1] << 8 | input.control[2])));

  // The first pass: every line counted, the first kept; alone, and shared
  // among 2 to 17 threads.
  const std::vector<std::string> lines = reference_lines(delivered);
  const std::string first = lines.empty() ? std::string() : lines.front();
  for (const SplitOptions& split :
       {SplitOptions{0, 1}, SplitOptions{0, 2 + static_cast<int>(input.control[0] & 15)}}) {
    const FirstPass pass = count_lines(memory_file.path(), split);
    if (pass.line_count != static_cast<std::int64_t>(lines.size())) {
      fail("count_lines gave %lld, expected %zu (%d threads)",
           static_cast<long long>(pass.line_count), lines.size(), split.workers);
    }
    if (pass.first_line != first) {
      fail("count_lines kept \"%s\", expected \"%s\"", visible(pass.first_line).c_str(),
           visible(first).c_str());
    }
  }
  if (is_file_open(kInputFileNumber) || is_file_open(2)) fail("a file is left open");
  return 0;
}

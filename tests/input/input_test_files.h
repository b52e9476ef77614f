// Helpers shared by the input tests: byte strings opened as input files, and
// the text-mode delivery worked out byte by byte as the reference.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "input/input_file.h"
#include "input/two_pass_reader.h"
#include "support/temp_folder.h"
#include "support/text_reference.h"

namespace tarvel::testing {

using reference::reference_delivery;
using reference::reference_lines;
using reference::visible;

inline constexpr int kTestFileNumber = 1;

// Passes read by the calling thread alone, and shared among `workers`
// threads whatever the file's size.
inline constexpr SplitOptions kNeverSplit{std::numeric_limits<std::uint64_t>::max(), 1};
inline constexpr SplitOptions split_among(int workers) {
  return {0, workers};
}

// The thread counts the split tests run with.
inline constexpr int kWorkerCounts[] = {1, 2, 3, 7, 16};

// Chunk sizes that put a refill at every small offset, and the real one.
inline constexpr std::size_t kBufferSizes[] = {2, 3, 4, 5, 7, 16, 509, kInputBufferSize};

// A temporary file holding `bytes`, open as input file number 1 and read in
// chunks of `buffer_size` bytes; closed again at the end of the scope.
class OpenedBytes {
 public:
  explicit OpenedBytes(const std::string& bytes, std::size_t buffer_size = kInputBufferSize) {
    folder_.write("input.txt", bytes);
    RuntimeErrorCode code =
        open_for_input(file_, folder_.file("input.txt"), kTestFileNumber, buffer_size);
    if (code != kNoError) ADD_FAILURE() << "open_for_input gave " << code;
  }
  ~OpenedBytes() { close_file(file_); }
  OpenedBytes(const OpenedBytes&) = delete;
  OpenedBytes& operator=(const OpenedBytes&) = delete;

  InputFile& file() { return file_; }
  std::string path() const { return folder_.file("input.txt"); }

 private:
  TempFolder folder_;
  InputFile file_;
};

// Runs of one letter, for long lines.
inline std::string letters(std::size_t count, char letter = 'x') {
  return std::string(count, letter);
}

// Random sample files, from the regular kind the helper threads are for to
// the kinds where a helper's guess of the sample number or its place must
// fail: missing and extra fields, blank lines, CR LF and lone CR, quotes, "&"
// radixes, lines past a 511-byte piece, NUL bytes and a Ctrl-Z.
inline std::string random_sample_file(std::mt19937_64& random, int channels, int lines,
                                      int oddity) {
  std::uniform_int_distribution<int> percent(0, 99);
  std::uniform_real_distribution<double> value(-3, 3);
  std::string raw;
  char number[40];
  for (int line = 0; line < lines; ++line) {
    int fields = 1 + 2 * channels;
    if (oddity > 0 && percent(random) < oddity) fields += percent(random) % 5 - 2;
    for (int f = 0; f < fields; ++f) {
      if (f > 0) raw += oddity > 0 && percent(random) < oddity ? "\t, " : " ";
      if (f == 0) {
        std::snprintf(number, sizeof number, "%.10g", line / 48000.0);
      } else if (oddity > 0 && percent(random) < oddity / 2) {
        const char* odd[] = {"&H7F", "\"1 2\"", "1d3", "", "-", "1e400", "&", "\x00"};
        raw += std::string(odd[percent(random) % 8], odd[percent(random) % 8] == odd[7] ? 1 : 0);
        continue;
      } else {
        std::snprintf(number, sizeof number, "%.7g", value(random));
      }
      raw += number;
    }
    if (oddity > 0 && percent(random) < oddity / 3) raw.append(520, ' ');
    if (oddity > 0 && percent(random) < oddity / 3) raw += "\r";
    if (oddity > 0 && percent(random) < oddity / 4) raw += "\n";
    raw += oddity > 0 && percent(random) < 50 ? "\r\n" : "\n";
  }
  if (oddity > 0 && percent(random) < oddity / 4) {
    raw.insert(static_cast<std::size_t>(percent(random)) * raw.size() / 100, 1, '\x1a');
  }
  return raw;
}

// The random sample file of round `round` of the split tests: one to four
// channels by round, up to 60 lines, and every third file regular.
struct RoundFile {
  int channels;
  std::string raw;
  bool regular;
};

inline RoundFile random_round_file(std::mt19937_64& random, int round) {
  const int channels = 1 + round % 4;
  const int lines = 1 + static_cast<int>(random() % 60);
  const int oddity = round % 3 == 0 ? 0 : static_cast<int>(random() % 40);
  return {channels, random_sample_file(random, channels, lines, oddity), oddity == 0};
}

// A sample file of the split tests: `raw` in a temporary folder of its own,
// removed with it.
class SampleFile {
 public:
  explicit SampleFile(std::string raw) : raw_(std::move(raw)) { folder_.write("data.txt", raw_); }

  const std::string& raw() const { return raw_; }
  std::string path() const { return folder_.file("data.txt"); }

 private:
  TempFolder folder_;
  std::string raw_;
};

// One random file of the split tests and its line counts: by the calling
// thread alone, and shared among each of kWorkerCounts threads in turn.
struct CountedFile {
  const RoundFile& round;
  const SampleFile& file;
  FirstPass alone;
  std::vector<std::pair<int, FirstPass>> shared;  // worker count, count
};

// The split tests' harness, for the first pass and the second alike. On the
// random files of 90 rounds drawn from `seed` (random_round_file), each in a
// temporary file: counts the lines alone, expecting the count of the
// byte-by-byte reference, and shared among each of kWorkerCounts threads,
// expecting the same count and first line, and no split with one thread. Then
// calls `check(counted, random)` for the caller's own pass over the file, with
// `random` for its own draws. A failure names the round and shows the file;
// the first file with a failure is the last one tried. Returns how many of
// the shared counts split their file, which the caller expects to be many.
template <typename Check>
int count_round_files(std::uint64_t seed, Check check) {
  std::mt19937_64 random(seed);
  int split_counts = 0;
  for (int round = 0; round < 90; ++round) {
    const RoundFile drawn = random_round_file(random, round);
    SCOPED_TRACE("round " + std::to_string(round) + ": " + visible(drawn.raw));
    const SampleFile file(drawn.raw);
    CountedFile counted{drawn, file, count_lines(file.path(), kNeverSplit), {}};
    EXPECT_EQ(counted.alone.line_count,
              static_cast<std::int64_t>(reference_lines(reference_delivery(drawn.raw)).size()));
    for (const int workers : kWorkerCounts) {
      const FirstPass& shared =
          counted.shared.emplace_back(workers, count_lines(file.path(), split_among(workers)))
              .second;
      EXPECT_EQ(shared.line_count, counted.alone.line_count) << workers << " threads";
      EXPECT_EQ(shared.first_line, counted.alone.first_line) << workers << " threads";
      if (workers == 1) {
        EXPECT_FALSE(shared.split.has_value()) << "one thread";
      }
      if (shared.split) ++split_counts;
    }
    if (::testing::Test::HasFailure()) return split_counts;
    check(counted, random);
    if (::testing::Test::HasFatalFailure()) return split_counts;
  }
  return split_counts;
}

}  // namespace tarvel::testing

#include <gtest/gtest.h>

#include <cfenv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "support/error_code.h"
#include "support/estimate_bits.h"
#include "support/random_bits.h"
#include "support/temp_folder.h"
#include "tarvel/tarvel.h"

namespace tarvel {
namespace {

using testing::error_code;
using testing::field_bits;
using testing::Random;
using testing::TempFolder;
using Samples = std::vector<std::complex<float>>;

// Random row-major samples with, now and then, a NaN, an infinity or a
// subnormal among them: data, not errors.
Samples random_samples(std::int64_t samples, std::int64_t channels, std::uint64_t seed) {
  Random random(seed);
  Samples x(static_cast<std::size_t>(samples * channels));
  const auto part = [&] {
    switch (random.below(64)) {
      case 0:
        return std::numeric_limits<float>::quiet_NaN();
      case 1:
        return -std::numeric_limits<float>::infinity();
      case 2:
        return std::numeric_limits<float>::denorm_min() * static_cast<float>(random.below(9));
      default:
        return static_cast<float>(random.below(2001) - 1000) / 64.0f;
    }
  };
  for (auto& value : x) value = {part(), part()};
  return x;
}

std::string error_text(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.what();
  }
  return "";
}

TEST(Library, EveryLayoutGivesTheSameBits) {
  // Several blocks of samples, and enough to combine on two threads.
  constexpr std::int64_t kSamples = 20011;
  constexpr std::int64_t kChannels = 5;
  const Samples rows = random_samples(kSamples, kChannels, 7);
  Samples columns(rows.size());
  Samples strided(rows.size() * 3);
  Samples reversed(rows.size());
  for (std::int64_t n = 0; n < kSamples; ++n) {
    for (std::int64_t k = 0; k < kChannels; ++k) {
      const std::complex<float> value = rows[static_cast<std::size_t>(n * kChannels + k)];
      columns[static_cast<std::size_t>(k * kSamples + n)] = value;
      strided[static_cast<std::size_t>(n * kChannels * 3 + k * 2)] = value;
      reversed[rows.size() - 1 - static_cast<std::size_t>(n * kChannels + k)] = value;
    }
  }
  const SampleView views[] = {
      {rows.data(), kSamples, kChannels, kChannels, 1},
      {columns.data(), kSamples, kChannels, 1, kSamples},
      {strided.data(), kSamples, kChannels, kChannels * 3, 2},
      {&reversed.back(), kSamples, kChannels, -kChannels, -1},
  };
  const Estimate reference = estimate(views[0]);
  Samples first_y(kSamples);
  combine(views[0], first_y);
  for (const SampleView& x : views) {
    SCOPED_TRACE(x.sample_stride);
    EXPECT_EQ(field_bits(estimate(x)), field_bits(reference));
    Samples y(kSamples);
    EXPECT_EQ(field_bits(combine(x, y)), field_bits(reference));
    EXPECT_EQ(std::memcmp(y.data(), first_y.data(), y.size() * sizeof y[0]), 0);
  }
  // The same samples from a reader, block by block.
  const SampleReader read = [&](std::int64_t first, std::int64_t count, std::complex<float>* out) {
    std::memcpy(out, rows.data() + first * kChannels,
                static_cast<std::size_t>(count * kChannels) * sizeof(out[0]));
  };
  EXPECT_EQ(field_bits(estimate(kSamples, kChannels, read)), field_bits(reference));
  Samples y(kSamples);
  EXPECT_EQ(field_bits(combine(kSamples, kChannels, read, y)), field_bits(reference));
  EXPECT_EQ(std::memcmp(y.data(), first_y.data(), y.size() * sizeof y[0]), 0);
  EXPECT_EQ(error_code([&] { estimate(0, kChannels, read); }), 1);
}

TEST(Library, TheExampleGivesTheToolsReportAndOutputFile) {
  TempFolder folder;
  const std::string source = std::string(TARVEL_SOURCE_DIR) + "/examples/";
  const std::string tool = testing::read_file(source + "expected/two_report.txt");
  const std::string tool_output = testing::read_file(source + "expected/two_out.txt");
  const TextSamples samples = read_text(source + "two.txt");
  ASSERT_EQ(samples.sample_count, 4);
  ASSERT_EQ(samples.channel_count, 2);
  Samples y(4);
  const Estimate e = combine(view(samples), y, Options{Arithmetic::command});
  // The tool's report from "signals:" through the combined signal's line.
  const std::size_t first = tool.find("signals:");
  const std::size_t last = tool.find("\r\n", tool.find("combined signal:") + 18) + 2;
  EXPECT_EQ(report(e), tool.substr(first, last - first));
  write_text(folder.file("out.txt"), samples.times, y);
  EXPECT_EQ(testing::read_file(folder.file("out.txt")), tool_output);
  EXPECT_EQ(output_path("a/two.txt"), std::filesystem::path("a/two_out.txt"));

  // The whole run, its file names those of the folder's copy.
  folder.write("two.txt", testing::read_file(source + "two.txt"));
  const RunResult run_result = run(folder.file("two.txt"));
  std::string expected = tool;
  expected.replace(expected.find("two_out.txt"), 11, folder.file("two_out.txt"));
  expected.replace(expected.find("two.txt"), 7, folder.file("two.txt"));
  EXPECT_EQ(run_result.standard_output, expected);
  EXPECT_EQ(run_result.output_path, std::filesystem::path(folder.file("two_out.txt")));
  EXPECT_EQ(testing::read_file(folder.file("two_out.txt")), tool_output);
  EXPECT_EQ(report(run_result.estimate), report(e));
}

TEST(Library, EachFailureIsAnErrorWithTheToolsStatus) {
  TempFolder folder;
  folder.write("empty.txt", "");
  folder.write("short.txt", "0 1 1\n1 3 1\n\n\n");
  const Samples x = random_samples(4, 2, 1);
  Samples y(4);
  const auto view_of = [&](std::int64_t samples, std::int64_t channels, std::int64_t stride) {
    return SampleView{x.data(), samples, channels, stride, 1};
  };
  constexpr std::int64_t kPastBounds = std::int64_t{1} << 31;
  constexpr std::int64_t kHuge = std::numeric_limits<std::int64_t>::max() / 2;
  const std::vector<double> t(4);
  std::stop_source stopped;
  stopped.request_stop();
  struct Case {
    const char* what;
    int code;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"no samples", 1, [&] { estimate(view_of(0, 2, 2)); }},
      {"no channels", 1, [&] { estimate(view_of(4, 0, 2)); }},
      {"negative samples", 1, [&] { estimate(view_of(-1, 2, 2)); }},
      {"null data", 1,
       [&] {
         estimate({nullptr, 4, 2, 2, 1});
       }},
      {"samples past 32 bits in the command's arithmetic", 4,
       [&] { estimate(view_of(kPastBounds, 2, 2), Options{Arithmetic::command}); }},
      {"negative workers", 1,
       [&] {
         estimate(view_of(4, 2, 2), Options{Arithmetic::exact, -1});
       }},
      {"channels past 32 bits", 4, [&] { estimate(view_of(4, kPastBounds, 2)); }},
      {"strides past the address range", 1, [&] { estimate(view_of(4, 2, kHuge)); }},
      {"a stride past the address range in bytes only", 1,
       [&] { estimate(view_of(4, 2, kHuge / 4 + 1)); }},
      {"the lowest stride", 1,
       [&] { estimate(view_of(4, 2, std::numeric_limits<std::int64_t>::min())); }},
      {"y too short", 1, [&] { combine(view_of(4, 2, 2), std::span(y).first(3)); }},
      {"y too long", 1, [&] { combine(view_of(3, 2, 2), y); }},
      {"y over x", 1,
       [&] {
         std::vector<std::complex<float>> xy(8);
         combine(SampleView::rows(xy.data(), 4, 2), std::span(xy).subspan(4));
       }},
      {"a stop requested", 9, [&] { estimate(view_of(4, 2, 2), stopped.get_token()); }},
      {"a stop requested on combine", 9,
       [&] { combine(view_of(4, 2, 2), y, stopped.get_token()); }},
      {"a stop requested on reading", 9,
       [&] { read_text(folder.file("short.txt"), stopped.get_token()); }},
      {"a stop requested on writing", 9,
       [&] { write_text(folder.file("o.txt"), t, y, stopped.get_token()); }},
      {"negative loading", 1,
       [&] {
         estimate(view_of(4, 2, 2), Options{Arithmetic::exact, 0, -1.0f});
       }},
      {"NaN loading", 1,
       [&] {
         estimate(view_of(4, 2, 2), Options{Arithmetic::exact, 0, std::nanf("")});
       }},
      {"a block of 0", 1, [&] { estimate_blocks(view_of(4, 2, 2), 0, 1); }},
      {"a hop of 0", 1, [&] { estimate_blocks(view_of(4, 2, 2), 2, 0); }},
      {"a block past S", 1, [&] { estimate_blocks(view_of(4, 2, 2), 5, 1); }},
      {"weights not K", 1, [&] { apply(view_of(4, 2, 2), std::span(y).first(3), y); }},
      {"applied y not S", 1,
       [&] { apply(view_of(4, 2, 2), std::span(y).first(2), std::span(y).first(3)); }},
      {"blocks' y not S", 1, [&] { combine_blocks(view_of(4, 2, 2), 2, std::span(y).first(3)); }},
      {"an estimate of mixed sizes", 1,
       [&] {
         report(Estimate{{1}, {}, {}, {}, {}, {}, 0, {}, 0});
       }},
      {"a missing file", 2, [&] { read_text(folder.file("missing.txt")); }},
      {"a folder", 2, [&] { read_text(folder.path()); }},
      {"an empty file", 1, [&] { read_text(folder.file("empty.txt")); }},
      {"a file too short", 17, [&] { read_text(folder.file("short.txt")); }},
      {"times and values of two sizes", 1,
       [&] { write_text(folder.file("o.txt"), std::span(t).first(3), y); }},
      {"nothing to write", 1, [&] { write_text(folder.file("o.txt"), {}, {}); }},
      {"a file in a missing folder", 2, [&] { write_text(folder.file("missing/o.txt"), t, y); }},
#ifndef _WIN32
      {"a device", 1, [&] { read_text("/dev/zero"); }},
#endif
#ifdef __linux__
      {"a full disk", 3, [&] { write_text("/dev/full", t, y); }},
#endif
  };
  for (const Case& c : cases) {
    EXPECT_EQ(error_code(c.call), c.code) << c.what;
  }
  // A file's failure names the file and, where the system refused, its reason.
  struct FileCase {
    const char* what;
    std::function<void()> call;
    Failure failure;
    std::errc reason;
    std::string path;
  };
  const std::errc kNone{};
  folder.write("x.txt", "0 1 1\n");
  std::filesystem::create_directory(folder.file("x_out.txt"));
  const FileCase file_cases[] = {
      {"a missing file", [&] { read_text(folder.file("missing.txt")); }, Failure::file_not_found,
       std::errc::no_such_file_or_directory, folder.file("missing.txt")},
      {"a folder", [&] { read_text(folder.path()); }, Failure::file_not_found,
       std::errc::is_a_directory, folder.path()},
      {"an empty file", [&] { read_text(folder.file("empty.txt")); },
       Failure::illegal_function_call, kNone, folder.file("empty.txt")},
      {"a file too short", [&] { read_text(folder.file("short.txt")); }, Failure::end_of_file,
       kNone, folder.file("short.txt")},
      {"a file in a missing folder", [&] { write_text(folder.file("missing/o.txt"), t, y); },
       Failure::file_not_found, std::errc::no_such_file_or_directory, folder.file("missing/o.txt")},
      {"a run whose output name is a folder's", [&] { run(folder.file("x.txt")); },
       Failure::file_not_found,
#ifdef _WIN32
       std::errc::permission_denied,
#else
       std::errc::is_a_directory,
#endif
       folder.file("x_out.txt")},
#ifndef _WIN32
      {"a device", [&] { read_text("/dev/zero"); }, Failure::illegal_function_call,
       std::errc::invalid_argument, "/dev/zero"},
#endif
#ifdef __linux__
      {"a full disk", [&] { write_text("/dev/full", t, y); }, Failure::file_io_error,
       std::errc::no_space_on_device, "/dev/full"},
#endif
  };
  for (const FileCase& c : file_cases) {
    const std::optional<Error> error = testing::error_of(c.call);
    ASSERT_TRUE(error.has_value()) << c.what;
    EXPECT_EQ(error->failure(), c.failure) << c.what;
    EXPECT_EQ(error->reason(),
              c.reason == kNone ? std::error_code() : std::make_error_code(c.reason))
        << c.what;
    EXPECT_EQ(error->path(), std::filesystem::path(c.path)) << c.what;
  }
  // The message says what failed, with the file's name.
  const std::string missing = folder.file("missing.txt");
  EXPECT_EQ(
      error_text([&] { read_text(missing); }),
      "file not found: cannot open " + missing + " for reading (missing, unreadable or a folder)");
}

// A stop requested during a long call ends it soon, however many samples
// are left: here 2^31 - 1 samples of one repeated value.
TEST(Library, AStopDuringACallEndsItSoon) {
  const std::complex<float> value{1, 2};
  const SampleView x{&value, (std::int64_t{1} << 31) - 1, 1, 0, 0};
  std::stop_source stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.request_stop();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(error_code([&] { estimate(x, stop.get_token()); }), 9);
  const auto taken = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_LT(taken, std::chrono::seconds(3));
}

TEST(Library, TheCallersRoundingModeIsLeftAsItWas) {
  const Samples x = random_samples(2000, 3, 3);
  const SampleView view_x{x.data(), 2000, 3, 3, 1};
  const Estimate nearest = estimate(view_x);
  ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
  const Estimate upward = estimate(view_x);
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  std::stop_source stop;
  stop.request_stop();
  EXPECT_EQ(error_code([&] { estimate(view_x, stop.get_token()); }), 9);
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(field_bits(upward), field_bits(nearest));
}

TEST(Library, TwoThreadsMayCallAtOnce) {
  const Samples a = random_samples(40000, 4, 4);
  const Samples b = random_samples(30000, 2, 5);
  const SampleView views[] = {{a.data(), 40000, 4, 4, 1}, {b.data(), 30000, 2, 2, 1}};
  std::vector<std::string> alone[2];
  for (int i = 0; i < 2; ++i) alone[i] = field_bits(estimate(views[i]));
  std::vector<std::string> together[2];
  std::thread other([&] { together[1] = field_bits(estimate(views[1])); });
  together[0] = field_bits(estimate(views[0]));
  other.join();
  EXPECT_EQ(together[0], alone[0]);
  EXPECT_EQ(together[1], alone[1]);
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

SampleView rows_of(const std::vector<std::complex<float>>& x, std::int64_t first,
                   std::int64_t samples, std::int64_t channels) {
  return {x.data() + first * channels, samples, channels, channels, 1};
}

// Every window's estimate is that of its slice alone, whether the windows
// overlap, meet or leave gaps, with NaN and infinities entering and leaving.
TEST(Library, BlockEstimatesAreThoseOfTheirSlices) {
  struct Case {
    std::int64_t samples, channels, block, hop;
  };
  for (const Case c : {Case{1000, 3, 100, 100}, Case{1000, 3, 100, 25}, Case{1000, 3, 100, 130},
                       Case{300, 2, 256, 1}, Case{50, 4, 50, 7}, Case{9000, 2, 8500, 100}}) {
    const auto x = random_samples(c.samples, c.channels, static_cast<std::uint64_t>(c.hop));
    for (const Arithmetic arithmetic : {Arithmetic::exact, Arithmetic::command}) {
      const Options options{arithmetic, 2};
      const std::vector<Estimate> blocks =
          estimate_blocks(rows_of(x, 0, c.samples, c.channels), c.block, c.hop, options);
      ASSERT_EQ(std::ssize(blocks), (c.samples - c.block) / c.hop + 1);
      for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto start = static_cast<std::int64_t>(i) * c.hop;
        EXPECT_EQ(field_bits(blocks[i]),
                  field_bits(estimate(rows_of(x, start, c.block, c.channels), options)))
            << c.samples << " " << c.block << " " << c.hop << " block " << i;
      }
    }
  }
}

TEST(Library, WeightsAppliedGiveTheCombinedSamples) {
  const std::int64_t s = 3000, k = 3, block = 1000;
  const auto x = random_samples(s, k, 7);
  std::vector<std::complex<float>> y(s), applied(s), blocks_y(s), slice_y(s);
  const Estimate e = combine(rows_of(x, 0, s, k), y);
  apply(rows_of(x, 0, s, k), e.normalized_weights, applied);
  EXPECT_EQ(std::memcmp(y.data(), applied.data(), s * sizeof y[0]), 0);
  // The last 500 samples take the last whole block's weights.
  const std::vector<Estimate> estimates =
      combine_blocks(rows_of(x, 0, s + 0, k), block + 500, blocks_y);
  ASSERT_EQ(estimates.size(), 2u);
  apply(rows_of(x, 0, block + 500, k), estimates[0].normalized_weights,
        std::span(slice_y).first(block + 500));
  apply(rows_of(x, block + 500, s - block - 500, k), estimates[1].normalized_weights,
        std::span(slice_y).subspan(block + 500));
  EXPECT_EQ(std::memcmp(blocks_y.data(), slice_y.data(), s * sizeof y[0]), 0);
}

// Integer pairs give the bits of the same values as complex floats, in any
// layout; unsigned bytes are centred on 127.5.
TEST(Library, IntegerPairsAreTheirValuesAsFloats) {
  const std::int64_t s = 700, k = 3;
  Random random(11);
  std::vector<std::int16_t> i16(2 * s * k);
  std::vector<std::int8_t> i8(2 * s * k);
  std::vector<std::uint8_t> u8(2 * s * k);
  std::vector<std::complex<float>> f16(s * k), f8(s * k), fu8(s * k);
  for (std::size_t i = 0; i < i16.size(); ++i) {
    i16[i] = static_cast<std::int16_t>(random.below(65536) - 32768);
    i8[i] = static_cast<std::int8_t>(random.below(256) - 128);
    u8[i] = static_cast<std::uint8_t>(random.below(256));
  }
  for (std::size_t i = 0; i < f16.size(); ++i) {
    f16[i] = {static_cast<float>(i16[2 * i]), static_cast<float>(i16[2 * i + 1])};
    f8[i] = {static_cast<float>(i8[2 * i]), static_cast<float>(i8[2 * i + 1])};
    fu8[i] = {u8[2 * i] - 127.5f, u8[2 * i + 1] - 127.5f};
  }
  struct Case {
    const void* data;
    PairType type;
    const std::vector<std::complex<float>>* floats;
  };
  for (const Case c :
       {Case{i16.data(), PairType::int16, &f16}, Case{i8.data(), PairType::int8, &f8},
        Case{u8.data(), PairType::uint8, &fu8}}) {
    const std::string want = field_bits(estimate(rows_of(*c.floats, 0, s, k)))[8];
    EXPECT_EQ(field_bits(estimate(PairView{c.data, c.type, s, k, k, 1}))[8], want);
    // The channels backwards: the same samples, in another order of channels.
    const SampleView backwards{c.floats->data() + k - 1, s, k, k, -1};
    const auto pairs_size = c.type == PairType::int16 ? 4 : 2;
    const PairView pairs_backwards{
        static_cast<const char*>(c.data) + (k - 1) * pairs_size, c.type, s, k, k, -1};
    EXPECT_EQ(field_bits(estimate(pairs_backwards)), field_bits(estimate(backwards)));
    Accumulator a(k);
    a.add(PairView{c.data, c.type, s, k, k, 1});
    EXPECT_EQ(field_bits(a.estimate())[8], want);
  }
}

TEST(Library, LoadingTamesTheInverseAndLeavesTheCovariance) {
  const auto x = random_samples(4, 2, 3);
  const SampleView v = rows_of(x, 0, 4, 2);
  EXPECT_EQ(field_bits(estimate(v, Options{Arithmetic::exact, 0, 0.0f})), field_bits(estimate(v)));
  // The example's covariance, diagonal 1 and 1, loaded by 1: the inverse is
  // that of the diagonal 2 and 2, the reported covariance the samples' own.
  const std::complex<float> two[] = {{1, 0}, {2, 1}, {2, 1},  {1, 0},
                                     {0, 0}, {3, 2}, {1, -1}, {2, 1}};
  const SampleView example{two, 4, 2, 2, 1};
  const Estimate loaded = estimate(example, Options{Arithmetic::exact, 0, 1});
  EXPECT_EQ(loaded.covariance, estimate(example).covariance);
  const std::complex<double> r[2][2] = {{2, {-0.75, 0.25}}, {{-0.75, -0.25}, 2}};
  for (int i = 0; i < 2; ++i) {
    for (int l = 0; l < 2; ++l) {
      const std::complex<double> product =
          std::complex<double>(loaded.inverse[2 * i]) * r[0][l] +
          std::complex<double>(loaded.inverse[2 * i + 1]) * r[1][l];
      EXPECT_NEAR(std::abs(product - (i == l ? 1.0 : 0.0)), 0, 1e-6) << i << " " << l;
    }
  }
}

}  // namespace
}  // namespace tarvel

namespace tarvel {
namespace {

// A reader that fails on one block, on any worker, ends the call with its
// exception on the calling thread, an accumulator untouched.
TEST(Library, AReaderThatThrowsEndsTheCallWithItsException) {
  const std::int64_t s = 1 << 20;
  for (const std::int64_t failing : {std::int64_t{0}, s / 2, s - 1}) {
    const SampleReader read = [&](std::int64_t first, std::int64_t count,
                                  std::complex<float>* out) {
      if (first <= failing && failing < first + count) throw std::runtime_error("disk gone");
      std::fill(out, out + count * 2, std::complex<float>{1, 2});
    };
    for (const int workers : {1, 16}) {
      Accumulator a(2);
      std::vector<std::complex<float>> y(s);
      const std::function<void()> calls[] = {
          [&] {
            a.add(s, read, Options{Arithmetic::exact, workers});
          },
          [&] {
            estimate(s, 2, read, Options{Arithmetic::command, workers});
          },
          [&] {
            combine(s, 2, read, y, Options{Arithmetic::command, workers});
          },
          [&] {
            combine(s, 2, read, y, Options{Arithmetic::exact, workers});
          },
      };
      for (const auto& call : calls) {
        try {
          call();
          ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& error) {
          EXPECT_STREQ(error.what(), "disk gone");
        }
      }
      EXPECT_EQ(a.samples(), 0);
    }
  }
}

}  // namespace
}  // namespace tarvel

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

#include "support/random_bits.h"
#include "support/temp_folder.h"
#include "tarvel/tarvel.h"

namespace tarvel {
namespace {

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

// Every field's bits, so that two estimates compare bit for bit (NaN
// included) and a difference shows which field and where.
std::vector<std::string> field_bits(const Estimate& e) {
  const auto bits = [](const void* data, std::size_t size) {
    std::string text;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) text += std::to_string(bytes[i]) + " ";
    return text;
  };
  const auto vector = [&](const auto& v) { return bits(v.data(), v.size() * sizeof(v[0])); };
  return {vector(e.signals),
          vector(e.snr_db),
          vector(e.covariance),
          vector(e.inverse),
          vector(e.weights),
          vector(e.normalized_weights),
          std::to_string(e.reference),
          bits(&e.combined_signal, sizeof e.combined_signal),
          bits(&e.combined_snr_db, sizeof e.combined_snr_db)};
}

int error_code(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.code();
  }
  return 0;
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
  const TextSamples samples = read_text(source + "two.txt");
  ASSERT_EQ(samples.sample_count, 4);
  ASSERT_EQ(samples.channel_count, 2);
  Samples y(4);
  const Estimate e = combine(view(samples), y, Options{Arithmetic::command});
  // The tool's report from "signals:" through the combined signal's line.
  const std::string tool = testing::read_file(source + "expected/two_report.txt");
  const std::size_t first = tool.find("signals:");
  const std::size_t last = tool.find("\r\n", tool.find("combined signal:") + 18) + 2;
  EXPECT_EQ(report(e), tool.substr(first, last - first));
  write_text(folder.file("out.txt"), samples.times, y);
  EXPECT_EQ(testing::read_file(folder.file("out.txt")),
            testing::read_file(source + "expected/two_out.txt"));
  EXPECT_EQ(output_path("a/two.txt"), std::filesystem::path("a/two_out.txt"));
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
      {"negative workers", 1, [&] { estimate(view_of(4, 2, 2), Options{Arithmetic::exact, -1}); }},
      {"channels past 32 bits", 4, [&] { estimate(view_of(4, kPastBounds, 2)); }},
      {"strides past the address range", 1, [&] { estimate(view_of(4, 2, kHuge)); }},
      {"a stride past the address range in bytes only", 1,
       [&] { estimate(view_of(4, 2, kHuge / 4 + 1)); }},
      {"the lowest stride", 1,
       [&] { estimate(view_of(4, 2, std::numeric_limits<std::int64_t>::min())); }},
      {"y too short", 1, [&] { combine(view_of(4, 2, 2), std::span(y).first(3)); }},
      {"y too long", 1, [&] { combine(view_of(3, 2, 2), y); }},
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
  // The message says what failed, with the file's name.
  const std::string missing = folder.file("missing.txt");
  EXPECT_EQ(
      error_text([&] { read_text(missing); }),
      "file not found: cannot open " + missing + " for reading (missing, unreadable or a folder)");
}

TEST(Library, AStopEndsEveryCallWithTheInterrupt) {
  TempFolder folder;
  folder.write("in.txt", "0 1 1\n1 3 1\n");
  const Samples x = random_samples(5000, 3, 2);
  const SampleView view_x{x.data(), 5000, 3, 3, 1};
  Samples y(5000);
  const std::vector<double> t(5000);
  std::stop_source stop;
  stop.request_stop();
  EXPECT_EQ(error_code([&] { estimate(view_x, stop.get_token()); }), 9);
  EXPECT_EQ(error_code([&] { combine(view_x, y, stop.get_token()); }), 9);
  EXPECT_EQ(error_code([&] { read_text(folder.file("in.txt"), stop.get_token()); }), 9);
  EXPECT_EQ(error_code([&] { write_text(folder.file("out.txt"), t, y, stop.get_token()); }), 9);
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

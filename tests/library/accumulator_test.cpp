#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "support/error_code.h"
#include "support/estimate_bits.h"
#include "support/temp_folder.h"
#include "tarvel/tarvel.h"

namespace tarvel {
namespace {

using testing::error_code;
using testing::field_bits;
using Bytes = std::vector<std::uint8_t>;
using Samples = std::vector<std::complex<float>>;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr std::size_t kSumBytes = 21 * 4;

// Three samples of two channels, row-major, with NaN and infinities in
// channel 1 only.
const Samples kThree = {{1.5f, -2}, {kNaN, kInf}, {0.25f, 0}, {-kInf, 1}, {-8, 0x1p-149f}, {3, 4}};
SampleView view_of(const Samples& x, std::int64_t channels = 2) {
  return {x.data(), static_cast<std::int64_t>(x.size()) / channels, channels, channels, 1};
}

// `bytes` with `width` bytes at `at` replaced by `value`, little-endian.
Bytes with(Bytes bytes, std::size_t at, std::uint64_t value, std::size_t width = 8) {
  for (std::size_t i = 0; i < width; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> 8 * i);
  return bytes;
}

// The exact sum m * 2^e as its 21 two's complement digits of 2^-320.
Bytes exact_sum(std::int64_t m, int e) {
  Bytes bytes(kSumBytes, 0);
  for (int bit = e + 320; bit < 8 * static_cast<int>(kSumBytes); ++bit) {
    const auto digit = (m >> std::min(bit - e - 320, 63)) & 1;
    bytes[static_cast<std::size_t>(bit / 8)] |= static_cast<std::uint8_t>(digit << (bit % 8));
  }
  return bytes;
}

TEST(Accumulator, ToBytesWritesTheVersionOneLayout) {
  Accumulator a(2);
  a.add({kThree.data(), 2, 2, 2, 1});
  const Bytes bytes = a.to_bytes();
  ASSERT_EQ(bytes.size(), 32 + 2 + (4 + 6) * kSumBytes);
  // The magic, version 1, D = 21, K = 2, S = 2, no flag on channel 0 and on
  // channel 1 a real NaN, a real -inf and an imaginary +inf.
  const Bytes header = {'t', 'a', 'r', 'v', 'e', 'l', 'A', 'C', 1, 0, 0, 0, 21, 0, 0, 0, 2,
                        0,   0,   0,   0,   0,   0,   0,   2,   0, 0, 0, 0, 0,  0, 0, 0, 0x15};
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 34), header);
  // The finite parts' sums: 1.5 + 0.25, -2 + 0; none; 1 (the infinity left out).
  Bytes sums;
  for (const auto& [m, e] : {std::pair{7, -2}, {-1, 1}, {0, 0}, {1, 0}}) {
    const Bytes sum = exact_sum(m, e);
    sums.insert(sums.end(), sum.begin(), sum.end());
  }
  EXPECT_EQ(Bytes(bytes.begin() + 34, bytes.begin() + 34 + 4 * kSumBytes), sums);
}

// Pieces merged either way round, through bytes or not: the estimate of all
// samples at once, bit for bit.
TEST(Accumulator, AnyPiecesGiveTheEstimateOfAllSamples) {
  Accumulator a(2), b(2);
  a.add({kThree.data(), 1, 2, 2, 1});
  b.add({kThree.data() + 2, 2, 2, 2, 1}, {Arithmetic::exact, 2});
  Accumulator copy = a;
  copy.merge(b);
  b.merge(Accumulator::from_bytes(a.to_bytes()));
  EXPECT_EQ(copy.samples(), 3);
  EXPECT_EQ(copy.to_bytes(), b.to_bytes());
  EXPECT_EQ(Accumulator::from_bytes(b.to_bytes()).to_bytes(), b.to_bytes());
  EXPECT_EQ(field_bits(b.estimate()), field_bits(estimate(view_of(kThree))));
  EXPECT_EQ(a.samples(), 1);  // a copy's sums are its own
}

// Each misuse is Error 1 and leaves the accumulator it was called on as it
// was; so is each byte string that is not a version 1 accumulator.
TEST(Accumulator, EachMisuseIsError1AndChangesNothing) {
  Accumulator two(2);
  two.add(view_of(kThree));
  const Bytes bytes = two.to_bytes(), empty = Accumulator(1).to_bytes();
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  Accumulator full = Accumulator::from_bytes(with(bytes, 24, kMax));  // S = 2^63 - 1
  const std::size_t sums = 32 + 1;  // the first sum of a one-channel accumulator
  const Bytes header_only(bytes.begin(), bytes.begin() + 32);
  Bytes longer = bytes;
  longer.push_back(0);
  const SampleView none{kThree.data(), 0, 2, 2, 1};
  struct Case {
    const char* what;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"no channels", [] { Accumulator(0); }},
      {"a view of three channels", [&] { two.add(view_of(kThree, 3)); }},
      {"the command's arithmetic", [&] { two.add(view_of(kThree), {Arithmetic::command}); }},
      {"no samples", [&] { two.add(none); }},
      {"a merge of three channels", [&] { two.merge(Accumulator(3)); }},
      {"a count past 2^63 - 1 by merging", [&] { two.merge(full); }},
      {"a count past 2^63 - 1 by adding", [&] { full.add(view_of(kThree)); }},
      {"an estimate of no samples", [] { Accumulator(2).estimate(); }},
      {"no bytes", [] { Accumulator::from_bytes({}); }},
      {"one byte short", [&] { Accumulator::from_bytes(Bytes(bytes.begin(), bytes.end() - 1)); }},
      {"one byte too many", [&] { Accumulator::from_bytes(longer); }},
      {"another magic", [&] { Accumulator::from_bytes(with(bytes, 7, 'c', 1)); }},
      {"version 2", [&] { Accumulator::from_bytes(with(bytes, 8, 2, 4)); }},
      {"20 digits", [&] { Accumulator::from_bytes(with(bytes, 12, 20, 4)); }},
      {"no channels, and nothing after the header",
       [&] { Accumulator::from_bytes(with(with(header_only, 16, 0), 24, 0)); }},
      // K (K + 1) would overflow 64 bits before the length could be compared.
      {"2^62 channels", [&] { Accumulator::from_bytes(with(header_only, 16, 1ull << 62)); }},
      {"2^31 channels", [&] { Accumulator::from_bytes(with(header_only, 16, 1ull << 31)); }},
      {"a negative count", [&] { Accumulator::from_bytes(with(bytes, 24, ~0ull)); }},
      {"flag bit 6", [&] { Accumulator::from_bytes(with(bytes, 32, 0x40, 1)); }},
      {"a sum's top digit at 2^20",
       [&] { Accumulator::from_bytes(with(bytes, 34 + 80, 1 << 20, 4)); }},
      {"no samples and a flag", [&] { Accumulator::from_bytes(with(empty, 32, 1, 1)); }},
      {"no samples and a sum", [&] { Accumulator::from_bytes(with(empty, sums + 40, 1, 1)); }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(error_code(c.call), 1) << c.what;
    EXPECT_EQ(two.to_bytes(), bytes) << c.what;
    EXPECT_EQ(full.samples(), std::numeric_limits<std::int64_t>::max()) << c.what;
  }
}

TEST(Accumulator, AStopLeavesTheSumsAsTheyWere) {
  Accumulator a(2);
  a.add(view_of(kThree));
  const Bytes before = a.to_bytes();
  std::stop_source stopped;
  stopped.request_stop();
  const SampleReader read = [](std::int64_t, std::int64_t count, std::complex<float>* out) {
    std::fill(out, out + 2 * count, std::complex<float>(1, 2));
  };
  EXPECT_EQ(error_code([&] { a.add(view_of(kThree), {}, stopped.get_token()); }), 9);
  EXPECT_EQ(error_code([&] { a.add(3, read, {}, stopped.get_token()); }), 9);
  // During a long add: 2^40 samples of one repeated value, stopped after 50 ms.
  const std::complex<float> value{1, 2};
  std::stop_source stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop.request_stop();
  });
  EXPECT_EQ(error_code([&] {
              a.add({&value, std::int64_t{1} << 40, 2, 0, 0}, {}, stop.get_token());
            }),
            9);
  stopper.join();
  EXPECT_EQ(a.samples(), 3);
  EXPECT_EQ(a.to_bytes(), before);
}

// The command's arithmetic is still one option away, with the tool's bits:
// its report on the example, and a running sum that stops at 2^24 where the
// exact one does not.
TEST(Accumulator, TheCommandsArithmeticIsAnOption) {
  const std::string source = std::string(TARVEL_SOURCE_DIR) + "/examples/";
  const std::string tool = testing::read_file(source + "expected/two_report.txt");
  const std::size_t first = tool.find("signals:");
  const std::size_t last = tool.find("\r\n", tool.find("combined signal:") + 18) + 2;
  const Estimate e = estimate(view(read_text(source + "two.txt")), {Arithmetic::command});
  EXPECT_EQ(report(e), tool.substr(first, last - first));
  const std::complex<float> value{1, -1};
  const SampleView ones{&value, std::int64_t{1} << 25, 1, 0, 0};
  EXPECT_EQ(estimate(ones, {Arithmetic::command, 2}).signals[0], std::complex<float>(0.5f, -0.5f));
  EXPECT_EQ(estimate(ones, {Arithmetic::exact, 2}).signals[0], value);
}

}  // namespace
}  // namespace tarvel

// Version 1 of the accumulator's bytes, all integers little-endian:
//   8 bytes "tarvelAC", u32 version (1), u32 D (21, the 32-bit digits of an
//   exact sum), i64 K (1 .. 2^31 - 1), i64 S (0 .. 2^63 - 1);
//   K bytes, each channel's non-finite values (bits 0-2 NaN, +inf, -inf
//   among its real parts, bits 3-5 among its imaginary parts);
//   2K exact sums, the real and imaginary parts of each channel's samples;
//   K(K+1)/2 pairs (k, l), l >= k, in row order, each the real and the
//   imaginary exact sum of x(n,k) conj(x(n,l));
//   each exact sum D u32 digits, least significant first: the two's
//   complement of an integer V of 32 D bits, whose value is V 2^-320.
// Nothing else: the length is 32 + K + (2K + K(K+1)) 4D bytes exactly.
#include <cstring>
#include <limits>
#include <string>

#include "library/accumulator_state.h"
#include "library/failure.h"
#include "runtime/arrays.h"

namespace tarvel::library {
namespace {

constexpr char kMagic[8] = {'t', 'a', 'r', 'v', 'e', 'l', 'A', 'C'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderBytes = 32;
constexpr std::size_t kSumBytes = 4 * ExactSum::kDigits;

void put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t get(const std::uint8_t* in, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(in[i]) << (8 * i);
  return value;
}

void put_sum(std::vector<std::uint8_t>& out, const ExactSum& sum) {
  for (int i = 0; i < ExactSum::kDigits; ++i) {
    put(out, static_cast<std::uint64_t>(sum.limb(i)), 4);
  }
}

ExactSum get_sum(const std::uint8_t* in) {
  ExactSum sum;
  for (int i = 0; i + 1 < ExactSum::kDigits; ++i) {
    sum.set_limb(i, static_cast<std::int64_t>(get(in + 4 * i, 4)));
  }
  // The top digit carries the sign.
  const auto top = static_cast<std::uint32_t>(get(in + 4 * (ExactSum::kDigits - 1), 4));
  sum.set_limb(ExactSum::kDigits - 1, static_cast<std::int32_t>(top));
  return sum;
}

// No sum of samples reaches 2^660 (2^20 in the top digit): a larger one is
// not a sum, and refusing it keeps merges of sums far from overflowing.
constexpr std::int64_t kTopDigitBound = std::int64_t{1} << 20;

[[noreturn]] void refuse(const std::string& why) {
  fail(Failure::illegal_function_call, "the bytes are not an accumulator: " + why);
}

}  // namespace

std::vector<std::uint8_t> accumulator_bytes(const ExactStatistics& sums) {
  ExactStatistics normal = sums;
  normal.normalize();
  const std::int64_t k = normal.channels();
  std::vector<std::uint8_t> out;
  out.reserve(kHeaderBytes + static_cast<std::size_t>(k) +
              static_cast<std::size_t>(2 * k + 2 * normal.pair_count()) * kSumBytes);
  for (const char c : kMagic) out.push_back(static_cast<std::uint8_t>(c));
  put(out, kVersion, 4);
  put(out, ExactSum::kDigits, 4);
  put(out, static_cast<std::uint64_t>(k), 8);
  put(out, static_cast<std::uint64_t>(normal.samples()), 8);
  for (std::int64_t c = 0; c < k; ++c) out.push_back(normal.non_finite(c));
  for (std::int64_t c = 0; c < k; ++c) {
    put_sum(out, normal.channel_sum(c, 0));
    put_sum(out, normal.channel_sum(c, 1));
  }
  for (std::int64_t pair = 0; pair < normal.pair_count(); ++pair) {
    put_sum(out, normal.pair_sum(pair, 0));
    put_sum(out, normal.pair_sum(pair, 1));
  }
  return out;
}

ExactStatistics accumulator_of_bytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kHeaderBytes) refuse("fewer than 32 bytes");
  const std::uint8_t* in = bytes.data();
  if (std::memcmp(in, kMagic, sizeof kMagic) != 0) refuse("no \"tarvelAC\" at the start");
  const std::uint64_t version = get(in + 8, 4);
  if (version != kVersion) {
    refuse("layout version " + std::to_string(version) + ", this library reads version 1");
  }
  if (get(in + 12, 4) != ExactSum::kDigits) refuse("the digits per sum are not 21");
  const auto k = static_cast<std::int64_t>(get(in + 16, 8));
  const auto s = static_cast<std::int64_t>(get(in + 24, 8));
  if (k < 1 || k > kMaxCount) refuse("channels out of range");
  if (s < 0) refuse("a negative sample count");
  // K <= 2^31 - 1 keeps this count within 64 bits.
  const auto sums = static_cast<std::uint64_t>(2 * k) +
                    static_cast<std::uint64_t>(k) * static_cast<std::uint64_t>(k + 1);
  if (sums > (bytes.size() - kHeaderBytes) / kSumBytes ||
      bytes.size() != kHeaderBytes + static_cast<std::size_t>(k) + sums * kSumBytes) {
    refuse("the length is not that of " + std::to_string(k) + " channels");
  }
  ExactStatistics out(k);
  out.set_samples(s);
  const std::uint8_t* flags = in + kHeaderBytes;
  const std::uint8_t* next = flags + k;
  bool all_zero = true;
  for (std::int64_t c = 0; c < k; ++c) {
    if ((flags[c] & ~kAllNonFinite) != 0) refuse("unknown bits in a channel's flags");
    out.set_non_finite(c, flags[c]);
    all_zero = all_zero && flags[c] == 0;
  }
  const auto take = [&](ExactSum& sum) {
    sum = get_sum(next);
    next += kSumBytes;
    const std::int64_t top = sum.limb(ExactSum::kDigits - 1);
    if (top >= kTopDigitBound || top < -kTopDigitBound) refuse("a sum out of range");
    all_zero = all_zero && sum.is_zero();
  };
  for (std::int64_t c = 0; c < k; ++c) {
    take(out.channel_sum(c, 0));
    take(out.channel_sum(c, 1));
  }
  for (std::int64_t pair = 0; pair < out.pair_count(); ++pair) {
    take(out.pair_sum(pair, 0));
    take(out.pair_sum(pair, 1));
  }
  if (s == 0 && !all_zero) refuse("sums without samples");
  return out;
}

}  // namespace tarvel::library

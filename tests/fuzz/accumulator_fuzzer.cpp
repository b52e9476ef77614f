// Fuzz target of the accumulator's bytes, the one input of the library that
// is a serialized state. Any bytes are either refused with Error 1 or read
// into an accumulator whose to_bytes gives the input back (every field of
// version 1 has one spelling). An accepted accumulator must then hold to what
// its sums mean, whatever they are:
//   - merged with a small fresh accumulator, either way round, the same bytes;
//   - merged with itself, twice the count and the same means and covariance
//     (twice every sum over twice the samples is the same exact value), or
//     Error 1 and no change when the count would pass 2^63 - 1;
//   - an estimate, never an error, once it holds a sample (and Error 1 when
//     it holds none), with R(l,k) the conjugate of R(k,l) bit for bit and
//     the diagonal's imaginary parts +0.
// The fresh accumulator's three samples are the input's first bytes read as
// raw floats, so that NaN, infinities and subnormals occur.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "tarvel/tarvel.h"

namespace {

using tarvel::Accumulator;
using tarvel::Error;

std::uint32_t bits(float x) {
  std::uint32_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// R(l,k) against R(k,l): the same real part, and the imaginary part the
// exact one negated and rounded, so an exact 0 is +0 on both sides and one
// that rounds to 0 is +0 on one side and -0 on the other.
bool conjugates(std::complex<float> kl, std::complex<float> lk) {
  if (bits(kl.real()) != bits(lk.real())) return false;
  if (std::isnan(kl.imag())) return std::isnan(lk.imag());
  return kl.imag() == 0 ? lk.imag() == 0 : bits(kl.imag()) == bits(-lk.imag());
}

// Merges `other` into `into` (which may be `other` itself): the count adds
// up, or Error 1 leaves `into` as it was.
void merge_checked(Accumulator& into, const Accumulator& other, const char* what) {
  const std::int64_t before = into.samples(), added = other.samples();
  const std::vector<std::uint8_t> bytes = into.to_bytes();
  try {
    into.merge(other);
    if (into.samples() - before != added) tarvel::fuzz::fail("%s: the count is wrong", what);
  } catch (const Error& error) {
    if (error.code() != 1 || added <= INT64_MAX - before || into.to_bytes() != bytes) {
      tarvel::fuzz::fail("%s threw Error %d: %s", what, error.code(), error.what());
    }
  }
}

tarvel::Estimate estimate_of(const Accumulator& a) {
  try {
    return a.estimate();
  } catch (const Error& error) {
    tarvel::fuzz::fail("the estimate of %lld samples threw Error %d: %s",
                       static_cast<long long>(a.samples()), error.code(), error.what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarvel::fuzz::fail;
  const std::vector<std::uint8_t> input(data, data + size);
  Accumulator read(1);
  try {
    read = Accumulator::from_bytes(input);
  } catch (const Error& error) {
    if (error.code() != 1) fail("refused with Error %d: %s", error.code(), error.what());
    return 0;
  }
  if (read.to_bytes() != input) fail("to_bytes does not give the accepted bytes back");
  const std::int64_t channels = read.channels();

  std::vector<std::complex<float>> x(static_cast<std::size_t>(3 * channels));
  std::memcpy(x.data(), data, std::min(size, x.size() * sizeof x[0]));
  Accumulator fresh(channels);
  fresh.add({x.data(), 3, channels, channels, 1}, {tarvel::Arithmetic::exact, 1});
  Accumulator one_way = read, other_way = fresh;
  merge_checked(one_way, fresh, "a merge of a fresh accumulator");
  merge_checked(other_way, read, "a merge into a fresh accumulator");
  if (one_way.samples() != read.samples() && one_way.to_bytes() != other_way.to_bytes()) {
    fail("the two merges differ in their bytes");
  }

  if (read.samples() == 0) {
    try {
      read.estimate();
    } catch (const Error& error) {
      if (error.code() == 1) return 0;
    }
    fail("the estimate of no samples was not Error 1");
  }
  const tarvel::Estimate e = estimate_of(read);
  const auto k_count = static_cast<std::size_t>(channels);
  for (std::size_t k = 0; k < k_count; ++k) {
    if (bits(e.covariance[k * k_count + k].imag()) != 0) fail("R(%zu,%zu) is not real", k, k);
    for (std::size_t l = k + 1; l < k_count; ++l) {
      const std::complex<float> kl = e.covariance[k * k_count + l],
                                lk = e.covariance[l * k_count + k];
      if (!conjugates(kl, lk)) {
        fail("R(%zu,%zu) = (%a, %a) and R(%zu,%zu) = (%a, %a) are not conjugates", k, l, kl.real(),
             kl.imag(), l, k, lk.real(), lk.imag());
      }
    }
  }
  Accumulator twice = read;
  merge_checked(twice, twice, "a merge with itself");
  if (twice.samples() != read.samples()) {  // merged
    const tarvel::Estimate doubled = estimate_of(twice);
    if (std::memcmp(doubled.signals.data(), e.signals.data(), k_count * sizeof e.signals[0]) != 0 ||
        std::memcmp(doubled.covariance.data(), e.covariance.data(),
                    k_count * k_count * sizeof e.covariance[0]) != 0) {
      fail("merged with itself, the means or the covariance changed");
    }
  }
  return 0;
}

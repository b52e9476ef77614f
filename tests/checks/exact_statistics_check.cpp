// Checks the library's exact arithmetic on COUNT random arrays of up to 1000
// samples of 1 to 6 channels, drawn to be hard: every exponent, subnormals,
// sums that cancel to a few units of their smallest term, values near
// overflow, ties and ties plus a far smaller part, integers, one sample,
// repeated values, NaN and infinities. Each channel mean and covariance
// element is compared with MPFR, where every sum of floats and of products of
// floats is exact and only the last division is rounded. On every fourth
// array the whole Estimate must also be the same bits for the samples in
// another order, in other layouts, from a reader, from accumulators of random
// pieces merged in random order (some through their bytes), and for the array
// repeated past several blocks on 1 worker and on 2, 3, 7 or 16. Exits with 1
// at the first mismatch.
// Usage: exact_statistics_check [COUNT (default 20000)] [SEED]
#include <mpfr.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "support/random_bits.h"
#include "tarvel/tarvel.h"

namespace {

using Complex = std::complex<float>;
using tarvel::testing::Random;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Wide enough for S times a sum of 2000 products of floats (2^-298 ..
// 2^267) less a product of two sums of floats: every step is exact.
constexpr mpfr_prec_t kBits = 2000;

struct Number {
  mpfr_t v;
  Number() { mpfr_init2(v, kBits), mpfr_set_zero(v, 1); }
  Number(const Number&) = delete;
  ~Number() { mpfr_clear(v); }
};

void exact(int ternary) {
  if (ternary != 0) std::printf("FAILED: the MPFR reference rounded a step\n"), std::exit(1);
}

// n / d to the nearest float, ties to even, with IEEE's subnormals and
// overflow: rounded to odd at kBits first, which a second rounding to 24
// bits or fewer cannot tell from n / d itself. An exact 0 is +0.
float rounded_quotient(const Number& n, unsigned long d) {
  if (mpfr_zero_p(n.v)) return 0.0f;
  Number q, shorter;
  mpfr_set_prec(shorter.v, kBits - 1);
  if (mpfr_div_ui(q.v, n.v, d, MPFR_RNDZ) != 0 && mpfr_set(shorter.v, q.v, MPFR_RNDZ) == 0) {
    mpfr_sgn(q.v) > 0 ? mpfr_nextabove(q.v) : mpfr_nextbelow(q.v);
  }
  return mpfr_get_flt(q.v, MPFR_RNDN);
}

std::string hex(Complex z) {
  char text[96];
  std::snprintf(text, sizeof text, "(%a, %a)", z.real(), z.imag());
  return text;
}

bool same_bits(Complex a, Complex b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// The means and then the covariance, row-major; a NaN there stands for any.
std::vector<Complex> reference(const std::vector<Complex>& x, std::size_t S, std::size_t K) {
  const auto part = [&](std::size_t n, std::size_t k, int p) {
    return p == 0 ? x[n * K + k].real() : x[n * K + k].imag();
  };
  std::vector<Number> terms(2 * S),
      sums(2 * K);  // terms: floats or their products, exact in 53 bits
  std::vector<mpfr_ptr> pointers(2 * S);
  for (std::size_t i = 0; i < 2 * S; ++i) mpfr_set_prec(terms[i].v, 53), pointers[i] = terms[i].v;
  std::vector<Complex> r(K + K * K);
  std::vector<bool> finite(K, true);
  for (std::size_t k = 0; k < K; ++k) {
    float mean[2];
    for (int p = 0; p < 2; ++p) {
      bool nan = false, plus = false, minus = false;
      std::size_t used = 0;
      for (std::size_t n = 0; n < S; ++n) {
        const float v = part(n, k, p);
        nan |= std::isnan(v), plus |= v == HUGE_VALF, minus |= v == -HUGE_VALF;
        if (std::isfinite(v)) exact(mpfr_set_flt(terms[used++].v, v, MPFR_RNDN));
      }
      exact(mpfr_sum(sums[2 * k + p].v, pointers.data(), used, MPFR_RNDN));
      finite[k] = finite[k] && !nan && !plus && !minus;
      mean[p] = nan || (plus && minus) ? kNaN
                : plus || minus        ? (plus ? HUGE_VALF : -HUGE_VALF)
                                       : rounded_quotient(sums[2 * k + p], S);
    }
    r[k] = {mean[0], mean[1]};
  }
  Number product, numerator[2];
  for (std::size_t k = 0; k < K; ++k) {
    for (std::size_t l = k; l < K; ++l) {
      Complex& kl = r[K + k * K + l];
      Complex& lk = r[K + l * K + k];
      if (!finite[k] || !finite[l]) {
        kl = lk = {kNaN, k == l ? 0.0f : kNaN};
        continue;
      }
      // S sum x_k conj(x_l) - sum x_k conj(sum x_l) = S^2 R(k,l), where
      // x_k conj(x_l) = a_k a_l + b_k b_l + i (b_k a_l - a_k b_l).
      for (int p = 0; p < 2; ++p) {
        for (std::size_t n = 0; n < S; ++n) {
          const double ak = part(n, k, 0), bk = part(n, k, 1), al = part(n, l, 0);
          const double bl = part(n, l, 1);
          exact(mpfr_set_d(terms[2 * n].v, p == 0 ? ak * al : bk * al, MPFR_RNDN));
          exact(mpfr_set_d(terms[2 * n + 1].v, p == 0 ? bk * bl : -ak * bl, MPFR_RNDN));
        }
        exact(mpfr_sum(numerator[p].v, pointers.data(), 2 * S, MPFR_RNDN));
        exact(mpfr_mul_ui(numerator[p].v, numerator[p].v, S, MPFR_RNDN));
        for (int q = 0; q < 2; ++q) {  // less A_k A_l + B_k B_l, or B_k A_l - A_k B_l
          exact(mpfr_mul(product.v, sums[2 * k + (p == 0 ? q : 1 - q)].v, sums[2 * l + q].v,
                         MPFR_RNDN));
          exact((p == 0 || q == 0 ? mpfr_sub : mpfr_add)(numerator[p].v, numerator[p].v, product.v,
                                                         MPFR_RNDN));
        }
      }
      kl = {rounded_quotient(numerator[0], S * S), rounded_quotient(numerator[1], S * S)};
      mpfr_neg(numerator[1].v, numerator[1].v, MPFR_RNDN);
      lk = {kl.real(), rounded_quotient(numerator[1], S * S)};
    }
  }
  return r;
}

// A float with a biased exponent in [lowest, highest], any sign and fraction.
float random_float(Random& random, int lowest, int highest) {
  const auto exponent = static_cast<std::uint32_t>(lowest + random.below(highest - lowest + 1));
  return std::bit_cast<float>(static_cast<std::uint32_t>(random.next() & 0x807fffffu) | exponent
                                                                                            << 23);
}

// S x K samples, row-major, in one of nine styles, a channel now and then in
// one of its own; in a quarter of the arrays some NaN and infinities.
std::vector<Complex> hard_array(Random& random, std::size_t S, std::size_t K, int style) {
  const int band = random.below(252), big = 180 + random.below(75);
  // Every exponent, a narrow band, subnormals and the smallest normals, and
  // values whose sums and products pass the range.
  const int exponents[4][2] = {{0, 254}, {band, band + 3}, {0, 1}, {250, 254}};
  const float repeated[2] = {random_float(random, 0, 254), random_float(random, 0, 254)};
  const int special_odds = random.below(4) == 0 ? 2 + random.below(8 * static_cast<int>(S)) : 0;
  std::vector<int> styles(K);
  for (int& s : styles) s = random.below(3) == 0 ? random.below(9) : style;
  const auto value = [&](int s) {
    if (special_odds != 0 && random.below(special_odds) == 0) {
      const float nan =
          std::bit_cast<float>(static_cast<std::uint32_t>(random.next()) | 0x7f800001u);
      return std::array{HUGE_VALF, -HUGE_VALF, nan}[random.below(3)];
    }
    if (s < 4) return random_float(random, exponents[s][0], exponents[s][1]);
    if (s == 4) return static_cast<float>(random.below(17) - 8);
    if (s == 5) return static_cast<float>((1 << 23) + random.below(1 << 26));  // even S: ties
    const int pick = random.below(3);  // +B and -B cancel exactly, leaving the small values
    if (s == 6)
      return pick == 2 ? random_float(random, 0, big - 30) : std::ldexp(pick - 0.5f, big - 126);
    return s == 7 ? repeated[pick == 0] : 0.0f;
  };
  std::vector<Complex> x(S * K);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const float real = value(styles[i % K]);
    x[i] = {real, value(styles[i % K])};
  }
  // Style 8: F, half an ulp of F and a far smaller part or 0, the rest 0.
  for (std::size_t k = 0; k < K; ++k) {
    const int e = 60 + random.below(160);
    for (std::size_t n = 0; n < 3 && n < S && styles[k] == 8; ++n) {
      const float f = n == 0   ? random_float(random, e, e)
                      : n == 1 ? std::ldexp(random.below(2) - 0.5f, e - 150)
                               : random.below(2) * random_float(random, 0, e - 60);
      x[n * K + k] = {f, n == 0 ? random_float(random, e, e) : f};
    }
  }
  return x;
}

[[noreturn]] void mismatch(unsigned long long array, const std::string& what) {
  std::printf("FAILED: array %llu: %s\n", array, what.c_str());
  std::exit(1);
}

// The first of the first `limit` values (means, covariance, inverse, weights,
// normalised weights, SNRs, the combined signal, its SNR and the reference)
// where two estimates differ in any bit, or "".
std::string difference(const tarvel::Estimate& a, const tarvel::Estimate& b,
                       std::size_t limit = SIZE_MAX) {
  const auto values = [](const tarvel::Estimate& e) {
    std::vector<Complex> v = e.signals;
    for (const auto* field : {&e.covariance, &e.inverse, &e.weights, &e.normalized_weights}) {
      v.insert(v.end(), field->begin(), field->end());
    }
    v.insert(v.end(), e.snr_db.begin(), e.snr_db.end());
    v.push_back(e.combined_signal);
    v.push_back({e.combined_snr_db, static_cast<float>(e.reference)});
    return v;
  };
  const std::vector<Complex> va = values(a), vb = values(b);
  if (va.size() != vb.size()) return "the sizes differ";
  for (std::size_t i = 0; i < va.size() && i < limit; ++i) {
    if (!same_bits(va[i], vb[i])) {
      return "value " + std::to_string(i) + " of the fields in order is " + hex(va[i]) +
             ", against " + hex(vb[i]);
    }
  }
  return "";
}

template <typename Vector>
void shuffle(Vector& v, Random& random) {
  for (std::size_t i = v.size(); i > 1; --i)
    std::swap(v[i - 1], v[random.below(static_cast<int>(i))]);
}

// The same Estimate for every order, layout, way in and worker count.
int check_variants(unsigned long long array, const std::vector<Complex>& x, std::int64_t S,
                   std::int64_t K, const tarvel::Estimate& expected, Random& random) {
  int compared = 0;
  const auto expect = [&](const tarvel::Estimate& got, const std::string& how) {
    if (const std::string d = difference(got, expected); !d.empty())
      mismatch(array, how + ": " + d);
    ++compared;
  };
  std::vector<std::int64_t> order(static_cast<std::size_t>(S));
  std::iota(order.begin(), order.end(), 0);
  shuffle(order, random);
  // Permuted, column-major, strided with NaN between, and reversed copies.
  std::vector<Complex> permuted(x.size()), columns(x.size()), strided(3 * x.size(), {kNaN, kNaN});
  std::vector<Complex> reversed(x.rbegin(), x.rend());
  for (std::int64_t n = 0; n < S; ++n) {
    for (std::int64_t k = 0; k < K; ++k) {
      permuted[n * K + k] = x[order[n] * K + k];
      columns[k * S + n] = strided[3 * n * K + 2 * k] = x[n * K + k];
    }
  }
  expect(tarvel::estimate({permuted.data(), S, K, K, 1}), "the samples in another order");
  expect(tarvel::estimate({columns.data(), S, K, 1, S}), "column-major");
  expect(tarvel::estimate({strided.data(), S, K, 3 * K, 2}), "strided");
  expect(tarvel::estimate({&reversed.back(), S, K, -K, -1}), "reversed");
  const tarvel::SampleReader read = [&](std::int64_t first, std::int64_t count, Complex* out) {
    std::copy_n(x.data() + first * K, count * K, out);
  };
  expect(tarvel::estimate(S, K, read, {tarvel::Arithmetic::exact, 3}), "from a reader");
  // Up to five pieces, each in an accumulator of its own, merged in any order.
  std::vector<std::int64_t> cuts = {0, S};
  for (int i = random.below(5); i > 0; --i) cuts.push_back(random.below(static_cast<int>(S) + 1));
  std::sort(cuts.begin(), cuts.end());
  std::vector<tarvel::Accumulator> pieces;
  for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
    if (cuts[i] == cuts[i + 1]) continue;
    tarvel::Accumulator piece(K);
    piece.add({x.data() + cuts[i] * K, cuts[i + 1] - cuts[i], K, K, 1},
              {tarvel::Arithmetic::exact, 1 + random.below(3)});
    pieces.push_back(random.below(2) ? tarvel::Accumulator::from_bytes(piece.to_bytes()) : piece);
  }
  shuffle(pieces, random);
  tarvel::Accumulator merged(K), whole(K);
  for (const auto& piece : pieces) merged.merge(piece);
  whole.add({x.data(), S, K, K, 1});
  const std::vector<std::uint8_t> a = merged.to_bytes(), b = whole.to_bytes();
  if (merged.samples() != S || a != b) {
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
    mismatch(array,
             "the merged pieces' bytes differ from the whole's from byte " + std::to_string(at));
  }
  expect(merged.estimate(), "an accumulator of merged pieces");
  // The array repeated past several 4096-sample blocks: the same exact means
  // and covariance (its SNRs scale with S), and the same bits on any number
  // of workers.
  std::vector<Complex> repeated;
  const std::int64_t times = 1 + 20000 / S;
  for (std::int64_t t = 0; t < times; ++t) repeated.insert(repeated.end(), x.begin(), x.end());
  const tarvel::SampleView long_x{repeated.data(), S * times, K, K, 1};
  const tarvel::Estimate alone = tarvel::estimate(long_x, {tarvel::Arithmetic::exact, 1});
  const auto means_and_covariance = static_cast<std::size_t>(K + K * K);
  if (const std::string d = difference(alone, expected, means_and_covariance); !d.empty()) {
    mismatch(array, "the array repeated " + std::to_string(times) + " times: " + d);
  }
  const int workers = std::array{2, 3, 7, 16}[random.below(4)];
  if (const std::string d =
          difference(tarvel::estimate(long_x, {tarvel::Arithmetic::exact, workers}), alone);
      !d.empty()) {
    mismatch(array, std::to_string(workers) + " workers against 1: " + d);
  }
  compared += 2;
  return compared;
}

}  // namespace

int main(int argc, char** argv) {
  const unsigned long long count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 20000;
  const unsigned long long seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261209;
  // The reference's own rounding where it is hardest: ties among the
  // subnormals, a negative value that rounds to 0, the last float, the first
  // value that overflows, a tie at 1.
  const double roundings[][3] = {{0x1p-149, 2, 0},
                                 {0x3p-149, 2, 0x1p-148},
                                 {-0x1p-149, 3, -0.0},
                                 {0x2p-149, 3, 0x1p-149},
                                 {0x1.fffffep127 * 3 + 0x1p103, 3, FLT_MAX},
                                 {0x1.ffffffp127 * 3, 3, HUGE_VAL},
                                 {1 + 0x1p-24, 1, 1}};
  for (const auto& r : roundings) {
    Number n;
    exact(mpfr_set_d(n.v, r[0], MPFR_RNDN));
    const float got = rounded_quotient(n, static_cast<unsigned long>(r[1]));
    if (std::bit_cast<std::uint32_t>(got) !=
        std::bit_cast<std::uint32_t>(static_cast<float>(r[2]))) {
      std::printf("FAILED: the reference rounds %a / %g to %a, not %a\n", r[0], r[1], got, r[2]);
      return 1;
    }
  }
  unsigned long long values = 0, variants = 0, nan = 0, inf = 0, subnormal = 0, zero = 0;
  for (unsigned long long array = 0; array < count; ++array) {
    Random random(seed * 1000003 + array);
    const int style = random.below(9);
    const std::int64_t S = style == 8             ? std::int64_t{1} << random.below(10)
                           : random.below(8) == 0 ? 1
                           : random.below(4) == 0 ? 2 + random.below(8)
                                                  : 1 + random.below(1000);
    const std::int64_t K = 1 + random.below(6);
    const std::vector<Complex> x = hard_array(random, S, K, style);
    const std::vector<Complex> want = reference(x, S, K);
    try {
      const tarvel::Estimate got = tarvel::estimate({x.data(), S, K, K, 1});
      std::vector<Complex> has = got.signals;
      has.insert(has.end(), got.covariance.begin(), got.covariance.end());
      for (std::size_t i = 0; i < want.size(); ++i) {
        const Complex w = want[i], g = has.at(i);
        const auto part = [](float g, float w) {
          return std::isnan(w) ? std::isnan(g) : same_bits(g, w);
        };
        if (!part(g.real(), w.real()) || !part(g.imag(), w.imag())) {
          mismatch(array, (i < std::size_t(K) ? "signals[" + std::to_string(i)
                                              : "covariance[" + std::to_string(i - K)) +
                              "] is " + hex(g) + ", exactly rounded " + hex(w) +
                              " (S = " + std::to_string(S) + ", K = " + std::to_string(K) + ")");
        }
        for (float v : {w.real(), w.imag()}) {
          nan += std::isnan(v), inf += std::isinf(v), zero += v == 0;
          subnormal += std::fpclassify(v) == FP_SUBNORMAL;
        }
        ++values;
      }
      if (array % 4 == 0) variants += check_variants(array, x, S, K, got, random);
    } catch (const tarvel::Error& error) {
      mismatch(array, "Error " + std::to_string(error.code()) + ": " + error.what());
    }
  }
  std::printf(
      "%llu arrays (seed %llu): %llu means and covariance elements exactly rounded, "
      "their parts %llu NaN, %llu infinite, %llu subnormal, %llu zero; %llu estimates "
      "the same bits in another order, layout, accumulator or worker count\n",
      count, seed, values, nan, inf, subnormal, zero, variants);
  return 0;
}

#include "combine/exact_statistics.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "combine/big_integer.h"
#include "combine/exact_kernel.h"
#include "combine/extended.h"

namespace tarvel {
namespace {

// Samples per split block: all of a block's parts stay in the cache while
// every pair of channels goes through them.
std::int64_t split_block_samples(std::int64_t channels) {
  return std::clamp<std::int64_t>(8192 / channels, 64, detail::kMaxExactBlock) & ~std::int64_t{3};
}

// The index in a channel's counts of a non-finite part `p` (0 real, 1
// imaginary): NaN, +inf, -inf.
std::size_t non_finite_index(float x, int p) {
  const std::size_t kind = std::isnan(x) ? 0 : std::signbit(x) ? 2 : 1;
  return kind + 3 * static_cast<std::size_t>(p);
}

// The sum of a part whose samples held the non-finite values `flags` (of
// one part, shifted down to bits 0-2): what IEEE addition gives in any order.
float non_finite_sum(std::uint8_t flags) {
  if ((flags & kRealNaN) != 0 || (flags & (kRealPlusInfinity | kRealMinusInfinity)) ==
                                     (kRealPlusInfinity | kRealMinusInfinity)) {
    return std::numeric_limits<float>::quiet_NaN();
  }
  return (flags & kRealPlusInfinity) != 0 ? INFINITY : -INFINITY;
}

ExactSum normalized(const ExactSum& sum) {
  ExactSum copy = sum;
  copy.normalize();
  return copy;
}

Dyadic value_of(const ExactSum& sum) {
  return Dyadic::of(normalized(sum));
}

// S² times the exact covariance element (k, l): S times the sum of the
// products less the product of the channel sums.
struct ScaledCovariance {
  Dyadic re, im;
};

ScaledCovariance scaled_covariance(const Dyadic& s, const Dyadic& pr, const Dyadic& pi,
                                   const Dyadic& ar_k, const Dyadic& ai_k, const Dyadic& ar_l,
                                   const Dyadic& ai_l) {
  return {s * pr - (ar_k * ar_l + ai_k * ai_l), s * pi - (ai_k * ar_l - ar_k * ai_l)};
}

}  // namespace

ExactStatistics::ExactStatistics(std::int64_t channels)
    : channels_(channels),
      non_finite_(static_cast<std::size_t>(channels)),
      sums_(static_cast<std::size_t>(2 * channels)),
      products_(static_cast<std::size_t>(channels * (channels + 1))) {}

void ExactStatistics::count_adds(std::int64_t adds) {
  if (pending_adds_ + adds > ExactSum::kAddsBeforeNormalize) normalize();
  pending_adds_ += adds;
}

void ExactStatistics::normalize() {
  for (ExactSum& sum : sums_) sum.normalize();
  for (ExactSum& sum : products_) sum.normalize();
  pending_adds_ = 0;
}

std::uint8_t ExactStatistics::non_finite(std::int64_t k) const {
  std::uint8_t flags = 0;
  const auto& counts = non_finite_[static_cast<std::size_t>(k)];
  for (std::size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] != 0) flags |= static_cast<std::uint8_t>(1u << i);
  }
  return flags;
}

void ExactStatistics::set_non_finite(std::int64_t k, std::uint8_t flags) {
  auto& counts = non_finite_[static_cast<std::size_t>(k)];
  for (std::size_t i = 0; i < counts.size(); ++i) counts[i] = (flags >> i) & 1;
}

void ExactStatistics::add(const SampleBlock& block, detail::SimdLevel level, int sign) {
  const std::int64_t step = split_block_samples(channels_);
  for (std::int64_t first = 0; first < block.count; first += step) {
    add_split_block(block, first, std::min(step, block.count - first), level, sign);
  }
}

// Negating is exact, so a sum taken out with sign -1 is exactly undone.
void ExactStatistics::add_sample_exactly(const float* xr, const float* xi, double sign) {
  const auto finite_or_zero = [](float x) { return std::isfinite(x) ? x : 0.0f; };
  for (std::int64_t k = 0; k < channels_; ++k) {
    channel_sum(k, 0).add(sign * finite_or_zero(xr[k]));
    channel_sum(k, 1).add(sign * finite_or_zero(xi[k]));
  }
  std::int64_t pair = 0;
  for (std::int64_t k = 0; k < channels_; ++k) {
    const double a = finite_or_zero(xr[k]);
    const double b = finite_or_zero(xi[k]);
    for (std::int64_t l = k; l < channels_; ++l, ++pair) {
      const double c = finite_or_zero(xr[l]);
      const double d = finite_or_zero(xi[l]);
      // Each product of two floats is exact in double.
      pair_sum(pair, 0).add(sign * (a * c));
      pair_sum(pair, 0).add(sign * (b * d));
      pair_sum(pair, 1).add(sign * (b * c));
      pair_sum(pair, 1).add(-sign * (a * d));
    }
  }
}

void ExactStatistics::add_split_block(const SampleBlock& block, std::int64_t first,
                                      std::int64_t count, detail::SimdLevel level, double sign) {
  const std::int64_t k_count = channels_;
  const std::int64_t padded = (count + 3) & ~std::int64_t{3};
  split_.assign(static_cast<std::size_t>(4 * k_count * padded), 0.0);
  nonzero_.assign(static_cast<std::size_t>(k_count), 0);
  has_lo_.assign(static_cast<std::size_t>(k_count), 0);
  std::array<std::uint8_t, detail::kMaxExactBlock> inexact{};
  const float* xr = block.xr + first * k_count;
  const float* xi = block.xi + first * k_count;
  const auto part_of = [&](std::int64_t k, int which) {
    return split_.data() + (4 * k + which) * padded;
  };

  for (std::int64_t k = 0; k < k_count; ++k) {
    // The channel's largest finite magnitude in the block, and its
    // non-finite values, which take no part in the sums.
    std::uint32_t largest = 0;
    auto& counts = non_finite_[static_cast<std::size_t>(k)];
    for (std::int64_t n = 0; n < count; ++n) {
      const float parts[2] = {xr[n * k_count + k], xi[n * k_count + k]};
      for (int p = 0; p < 2; ++p) {
        const std::uint32_t bits = std::bit_cast<std::uint32_t>(parts[p]) & 0x7FFFFFFFu;
        if (bits >= 0x7F800000u) {
          counts[non_finite_index(parts[p], p)] += static_cast<std::int64_t>(sign);
        } else {
          largest = std::max(largest, bits);
        }
      }
    }
    if (largest == 0) continue;
    nonzero_[static_cast<std::size_t>(k)] = 1;
    // Every finite part is below 2^(E + 1). Adding 1.5·2^52 times a grid's
    // unit rounds a value of that size to the grid, exactly as the sum then
    // loses its high bits again.
    const int e = static_cast<int>(largest >> 23) - 127;
    const double to_lo_grid = std::ldexp(1.5, e + 11);  // unit 2^(E - 41)
    const double to_hi_grid = std::ldexp(1.5, e + 32);  // unit 2^(E - 20)
    bool any_lo = false;
    for (int p = 0; p < 2; ++p) {
      const float* x = p == 0 ? xr : xi;
      double* hi = part_of(k, p);
      double* lo = part_of(k, 2 + p);
      for (std::int64_t n = 0; n < count; ++n) {
        const float value = x[n * k_count + k];
        const double v = std::isfinite(value) ? value : 0.0;
        const double on_grid = (v + to_lo_grid) - to_lo_grid;
        // A part too small for the grid is summed apart, with its sample.
        if (v != on_grid) inexact[static_cast<std::size_t>(n)] = 1;
        hi[n] = (on_grid + to_hi_grid) - to_hi_grid;
        lo[n] = on_grid - hi[n];
        any_lo = any_lo || lo[n] != 0;
      }
    }
    has_lo_[static_cast<std::size_t>(k)] = any_lo ? 1 : 0;
  }

  std::int64_t apart = 0;
  for (std::int64_t n = 0; n < count; ++n) {
    if (inexact[static_cast<std::size_t>(n)] == 0) continue;
    ++apart;
    for (std::int64_t k = 0; k < k_count; ++k) {
      for (int which = 0; which < 4; ++which) part_of(k, which)[n] = 0;
    }
  }
  // Per sum: three pieces of the block, and two products of each sample
  // summed apart.
  count_adds(3 + 2 * apart);
  for (std::int64_t n = 0; n < count; ++n) {
    if (inexact[static_cast<std::size_t>(n)] != 0) {
      add_sample_exactly(xr + n * k_count, xi + n * k_count, sign);
    }
  }

  for (std::int64_t k = 0; k < k_count; ++k) {
    if (nonzero_[static_cast<std::size_t>(k)] == 0) continue;
    for (int p = 0; p < 2; ++p) {
      // hi + lo is the part on the fine grid, below 2^42 units: a block of
      // them sums exactly.
      const double* hi = part_of(k, p);
      const double* lo = part_of(k, 2 + p);
      double sum = 0;
      for (std::int64_t n = 0; n < count; ++n) sum += hi[n] + lo[n];
      channel_sum(k, p).add(sign * sum);
    }
  }

  std::int64_t pair = 0;
  for (std::int64_t k = 0; k < k_count; ++k) {
    const detail::SplitChannel ck{part_of(k, 0), part_of(k, 1), part_of(k, 2), part_of(k, 3),
                                  has_lo_[static_cast<std::size_t>(k)] != 0};
    for (std::int64_t l = k; l < k_count; ++l, ++pair) {
      if (nonzero_[static_cast<std::size_t>(k)] == 0 || nonzero_[static_cast<std::size_t>(l)] == 0)
        continue;
      const detail::SplitChannel cl{part_of(l, 0), part_of(l, 1), part_of(l, 2), part_of(l, 3),
                                    has_lo_[static_cast<std::size_t>(l)] != 0};
      double sums[6];
      detail::exact_pair_sums(level, ck, cl, padded, sums);
      for (int piece = 0; piece < 3; ++piece) {
        pair_sum(pair, 0).add(sign * sums[2 * piece]);
        pair_sum(pair, 1).add(sign * sums[2 * piece + 1]);
      }
    }
  }
  samples_ += static_cast<std::int64_t>(sign) * count;
}

void ExactStatistics::merge(const ExactStatistics& other) {
  normalize();
  for (std::size_t i = 0; i < sums_.size(); ++i) sums_[i].add(normalized(other.sums_[i]));
  for (std::size_t i = 0; i < products_.size(); ++i) {
    products_[i].add(normalized(other.products_[i]));
  }
  for (std::size_t k = 0; k < non_finite_.size(); ++k) {
    for (std::size_t i = 0; i < non_finite_[k].size(); ++i) {
      non_finite_[k][i] += other.non_finite_[k][i];
    }
  }
  samples_ += other.samples_;
}

void ExactStatistics::means_and_covariance(ComplexVector& m, ComplexMatrix& R) const {
  const auto s = static_cast<std::uint64_t>(samples_);
  const Dyadic count{BigInteger(samples_), 0};
  std::vector<Dyadic> sums;
  for (const ExactSum& sum : sums_) sums.push_back(value_of(sum));
  for (std::int64_t k = 0; k < channels_; ++k) {
    const std::uint8_t flags = non_finite(k);
    const auto k2 = static_cast<std::size_t>(2 * k);
    m.re(k + 1) = (flags & 7) != 0 ? non_finite_sum(flags & 7) : sums[k2].to_float(s, 1);
    m.im(k + 1) = (flags >> 3) != 0 ? non_finite_sum(static_cast<std::uint8_t>(flags >> 3))
                                    : sums[k2 + 1].to_float(s, 1);
  }
  std::int64_t pair = 0;
  for (std::int64_t k = 0; k < channels_; ++k) {
    for (std::int64_t l = k; l < channels_; ++l, ++pair) {
      float re = std::numeric_limits<float>::quiet_NaN();
      float im = re;
      float im_below = re;
      if (non_finite(k) == 0 && non_finite(l) == 0) {
        const auto k2 = static_cast<std::size_t>(2 * k);
        const auto l2 = static_cast<std::size_t>(2 * l);
        const ScaledCovariance scaled =
            scaled_covariance(count, value_of(pair_sum(pair, 0)), value_of(pair_sum(pair, 1)),
                              sums[k2], sums[k2 + 1], sums[l2], sums[l2 + 1]);
        re = scaled.re.to_float(s, 2);
        im = scaled.im.to_float(s, 2);
        // The exact conjugate rounded: an exact zero is +0 on both sides.
        im_below = scaled.im.value.is_zero() ? 0.0f : -im;
      }
      // A covariance diagonal is real.
      if (k == l) im = im_below = 0;
      R.re(k + 1, l + 1) = re;
      R.im(k + 1, l + 1) = im;
      R.re(l + 1, k + 1) = re;
      R.im(l + 1, k + 1) = im_below;
    }
  }
}

CombinedStatistics ExactStatistics::combined(const ComplexVector& m, const ComplexMatrix& R,
                                             const ComplexVector& v) const {
  bool finite = true;
  for (std::int64_t k = 0; k < channels_; ++k) {
    finite =
        finite && non_finite(k) == 0 && std::isfinite(v.re(k + 1)) && std::isfinite(v.im(k + 1));
  }
  float ybr = 0;
  float ybi = 0;
  float n0 = 0;
  if (!finite) {
    // Some value is infinite or NaN: the sums over m and R in IEEE
    // arithmetic give what the samples' sums would.
    Extended sr = 0;
    Extended si = 0;
    Extended noise = 0;
    for (std::int64_t k = 1; k <= channels_; ++k) {
      const Extended vr = v.re(k);
      const Extended vi = v.im(k);
      sr = sr + (Extended{m.re(k)} * vr - Extended{m.im(k)} * vi);
      si = si + (Extended{m.re(k)} * vi + Extended{m.im(k)} * vr);
      for (std::int64_t l = 1; l <= channels_; ++l) {
        const Extended cr = vr * Extended{v.re(l)} + vi * Extended{v.im(l)};
        const Extended ci = vi * Extended{v.re(l)} - vr * Extended{v.im(l)};
        noise = noise + (cr * Extended{R.re(k, l)} - ci * Extended{R.im(k, l)});
      }
    }
    ybr = static_cast<float>(sr);
    ybi = static_cast<float>(si);
    n0 = static_cast<float>(noise);
  } else {
    const auto s = static_cast<std::uint64_t>(samples_);
    const Dyadic count{BigInteger(samples_), 0};
    std::vector<Dyadic> sums, vr, vi;
    for (const ExactSum& sum : sums_) sums.push_back(value_of(sum));
    for (std::int64_t k = 1; k <= channels_; ++k) {
      vr.push_back(Dyadic::of(v.re(k)));
      vi.push_back(Dyadic::of(v.im(k)));
    }
    // The mean of sum_k x(n,k) v(k): sum_k A(k) v(k) / S.
    Dyadic mean_re, mean_im;
    for (std::size_t k = 0; k < vr.size(); ++k) {
      mean_re = mean_re + (sums[2 * k] * vr[k] - sums[2 * k + 1] * vi[k]);
      mean_im = mean_im + (sums[2 * k] * vi[k] + sums[2 * k + 1] * vr[k]);
    }
    ybr = mean_re.to_float(s, 1);
    ybi = mean_im.to_float(s, 1);
    // S² sum_k,l v(k) conj(v(l)) R(k,l): the pairs below the diagonal are
    // the conjugates of those above, so each pair above counts twice.
    Dyadic noise;
    std::int64_t pair = 0;
    for (std::size_t k = 0; k < vr.size(); ++k) {
      for (std::size_t l = k; l < vr.size(); ++l, ++pair) {
        const ScaledCovariance scaled =
            scaled_covariance(count, value_of(pair_sum(pair, 0)), value_of(pair_sum(pair, 1)),
                              sums[2 * k], sums[2 * k + 1], sums[2 * l], sums[2 * l + 1]);
        const Dyadic cr = vr[k] * vr[l] + vi[k] * vi[l];
        const Dyadic ci = vi[k] * vr[l] - vr[k] * vi[l];
        Dyadic term = cr * scaled.re - ci * scaled.im;
        if (k != l) term.exponent += 1;
        noise = noise + term;
      }
    }
    n0 = noise.to_float(s, 2);
  }
  return combined_statistics_of(ybr, ybi, n0, samples_);
}

}  // namespace tarvel

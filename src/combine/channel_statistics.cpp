#include "combine/channel_statistics.h"

#include <algorithm>
#include <cmath>

#include "combine/covariance_kernel.h"
#include "combine/decibels.h"
#include "combine/extended.h"
#include "combine/shared_work.h"
#include "runtime/helper_thread.h"

namespace tarvel {

namespace {

// Adds the samples into mr, mi channel by channel, in sample order, each sum
// stored in single precision after every addition. A single addition is the
// extended one: the exact sum of two floats rounded to 64 bits and then to 24
// gives the float the direct rounding gives, as 64 >= 2·24 + 2.
template <std::int64_t kChannels>
void accumulate_few_channel_sums(const float* xr, const float* xi, std::int64_t samples, float* mr,
                                 float* mi) {
  // Locals, so the sums stay in registers from sample to sample.
  float sum_r[kChannels];
  float sum_i[kChannels];
  for (std::int64_t k = 0; k < kChannels; ++k) {
    sum_r[k] = mr[k];
    sum_i[k] = mi[k];
  }
  for (std::int64_t n = 0; n < samples; ++n) {
    for (std::int64_t k = 0; k < kChannels; ++k) {
      sum_r[k] = xr[n * kChannels + k] + sum_r[k];
      sum_i[k] = xi[n * kChannels + k] + sum_i[k];
    }
  }
  for (std::int64_t k = 0; k < kChannels; ++k) {
    mr[k] = sum_r[k];
    mi[k] = sum_i[k];
  }
}

void accumulate_channel_sums(const float* xr, const float* xi, std::int64_t samples,
                             std::int64_t channels, float* __restrict mr, float* __restrict mi) {
  switch (channels) {
    case 1:
      return accumulate_few_channel_sums<1>(xr, xi, samples, mr, mi);
    case 2:
      return accumulate_few_channel_sums<2>(xr, xi, samples, mr, mi);
    case 3:
      return accumulate_few_channel_sums<3>(xr, xi, samples, mr, mi);
    case 4:
      return accumulate_few_channel_sums<4>(xr, xi, samples, mr, mi);
    default:
      break;
  }
  for (std::int64_t n = 0; n < samples; ++n) {
    for (std::int64_t k = 0; k < channels; ++k) {
      mr[k] = xr[n * channels + k] + mr[k];
      mi[k] = xi[n * channels + k] + mi[k];
    }
  }
}

// The fewest rows a thread takes.
constexpr std::int64_t kRowsPerPart = 4;

// Channels up to this many have their sums copied for each thread.
constexpr std::int64_t kFewChannels = 16;

// The rows of part `part` of `parts`: consecutive rows, so that threads share
// cache lines at the edges of their parts only, with about as many elements
// in each part (row k holds channels - k of them; a part may have none).
detail::CovarianceRows rows_of_part(std::int64_t channels, int part, int parts) {
  const std::int64_t elements = channels * (channels + 1) / 2;
  // The first row past `share` elements: a row goes before it when at least
  // half of its elements do.
  const auto first_after = [&](std::int64_t share) {
    std::int64_t k = 0;
    for (std::int64_t done = 0; k < channels && 2 * done + (channels - k) <= 2 * share; ++k) {
      done += channels - k;
    }
    return k;
  };
  return {first_after(elements * part / parts), first_after(elements * (part + 1) / parts)};
}

// The covariance sums of one block, their rows shared among `workers`
// threads when the block is large enough: each element is added to by one
// thread, in sample order, so the sums are the same however many share them.
void accumulate_covariance_in_parts(detail::SimdLevel level, const SampleBlock& block,
                                    std::int64_t channels, const float* mr, const float* mi,
                                    float* rr, float* ri, int workers) {
  // Every part works out the centred values of all channels again, so a part
  // takes a group of rows at least, as the kernel goes through them.
  const std::int64_t pairs = channels * (channels + 1) / 2;
  const int parts = shared_parts(block.count * pairs, workers, channels / kRowsPerPart);
  if (parts == 1) {
    detail::accumulate_covariance_sums(level, block.xr, block.xi, block.count, channels, mr, mi, rr,
                                       ri);
    return;
  }
  run_in_parts(parts, [&](int part) {
    const detail::CovarianceRows rows = rows_of_part(channels, part, parts);
    if (channels > kFewChannels) {
      detail::accumulate_covariance_sums(level, block.xr, block.xi, block.count, channels, mr, mi,
                                         rr, ri, rows);
      return;
    }
    // The sums of few channels fit in a few cache lines, which every sample
    // would pass between the threads: each sums its rows in a copy of its
    // own (the other threads' rows it neither reads nor writes) and hands
    // them back.
    float own_r[kFewChannels * kFewChannels] = {};
    float own_i[kFewChannels * kFewChannels] = {};
    const std::int64_t first = rows.first * channels;
    const std::int64_t count = (rows.last - rows.first) * channels;
    std::copy_n(rr + first, count, own_r + first);
    std::copy_n(ri + first, count, own_i + first);
    detail::accumulate_covariance_sums(level, block.xr, block.xi, block.count, channels, mr, mi,
                                       own_r, own_i, rows);
    std::copy_n(own_r + first, count, rr + first);
    std::copy_n(own_i + first, count, ri + first);
  });
}

}  // namespace

void compute_means_and_covariance(const Array2<float>& xr, const Array2<float>& xi,
                                  ComplexVector& m, ComplexMatrix& R) {
  compute_means_and_covariance(xr, xi, m, R, detail::best_simd_level());
}

void compute_means_and_covariance(const Array2<float>& xr, const Array2<float>& xi,
                                  ComplexVector& m, ComplexMatrix& R, detail::SimdLevel level) {
  compute_means_and_covariance(TableBlocks(xr, xi), m, R, level);
}

bool compute_means_and_covariance(const SampleBlocks& x, ComplexVector& m, ComplexMatrix& R,
                                  detail::SimdLevel level) {
  const std::int64_t samples = x.samples();
  const std::int64_t channels = x.channels();
  float* mr = m.re.data();
  float* mi = m.im.data();
  float* rr = R.re.row(1);
  float* ri = R.im.row(1);

  for (std::int64_t k = 0; k < channels; ++k) {
    mr[k] = 0;
    mi[k] = 0;
  }
  for (std::int64_t i = 0; i < channels * channels; ++i) {
    rr[i] = 0;
    ri[i] = 0;
  }

  // Every running sum is stored after each addition, so blocks continue one
  // another's sums exactly as one pass over all the samples would.
  if (!x.for_each_block(0, samples, [&](const SampleBlock& block) {
        accumulate_channel_sums(block.xr, block.xi, block.count, channels, mr, mi);
      })) {
    return false;
  }
  const Extended s = samples;  // exact
  for (std::int64_t k = 0; k < channels; ++k) {
    mr[k] = extended_quotient(mr[k], s);
    mi[k] = extended_quotient(mi[k], s);
  }

  // A block of every sample has no pipeline of blocks sharing the work: its
  // rows are shared instead.
  const int workers = worker_count();
  if (!x.for_each_block(0, samples, [&](const SampleBlock& block) {
        accumulate_covariance_in_parts(level, block, channels, mr, mi, rr, ri,
                                       block.count == samples ? workers : 1);
      })) {
    return false;
  }
  // The sums below the diagonal are those above it, mirrored. The products
  // of element (l,k) are those of (k,l) with c, d and a, -b swapped: e's are
  // the same two exact products, so e and every real sum are equal bit for
  // bit; f's are the two products of (k,l) negated, so f and every imaginary
  // sum are negated, except that an exact zero is +0 on both sides (no
  // running sum is ever -0: it starts at +0, and -0 + +0 = +0). NaN stays NaN.
  for (std::int64_t k = 1; k < channels; ++k) {
    for (std::int64_t l = 0; l < k; ++l) {
      const float upper = ri[l * channels + k];
      rr[k * channels + l] = rr[l * channels + k];
      ri[k * channels + l] = upper == 0 ? 0.0f : -upper;
    }
  }

  for (std::int64_t i = 0; i < channels * channels; ++i) {
    rr[i] = extended_quotient(rr[i], s);
    ri[i] = extended_quotient(ri[i], s);
  }
  // A covariance diagonal is real; whatever the sums left there goes.
  for (std::int64_t k = 0; k < channels; ++k) ri[k * channels + k] = 0;
  return true;
}

void compute_channel_snr(const ComplexVector& m, const ComplexMatrix& R, std::int64_t sample_count,
                         Array1<float>& snr) {
  const std::int64_t channels = m.re.size();
  const Extended s = sample_count;  // exact
  for (std::int64_t k = 1; k <= channels; ++k) {
    const Extended mr = m.re(k);
    const Extended mi = m.im(k);
    const Extended rr = R.re(k, k);
    const Extended ri = R.im(k, k);
    // P and Q are not stored: they stay extended into the quotient.
    const Extended p = mr * mr + mi * mi;
    const Extended q = square_root(rr * rr + ri * ri);
    const float x = static_cast<float>((p / q) * s);
    snr(k) = detail::decibels(x);
  }
}

}  // namespace tarvel

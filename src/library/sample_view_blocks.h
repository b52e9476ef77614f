// A caller's samples in any form (a view of complex floats or of integer
// pairs, or a reader), handed to the statistics and the combining a block at
// a time in the kernels' layout.
#pragma once

#include <cstdint>
#include <span>
#include <stop_token>

#include "combine/sample_blocks.h"
#include "tarvel/tarvel.h"

namespace tarvel::library {

// Throws the Error of counts S or K below 1 or past the bounds of
// `arithmetic`: 2^31 - 1 for K, and for S in the command's arithmetic.
void check_counts(std::int64_t samples, std::int64_t channels, Arithmetic arithmetic);

// Throws the Error of samples that cannot be read: check_counts', a view
// with no data, or elements whose offsets overflow.
void check_samples(const Samples& x, Arithmetic arithmetic);
inline void check_view(const SampleView& x, Arithmetic arithmetic) {
  check_samples(x, arithmetic);
}

// Throws Error 1 when the memory of y overlaps that of x's samples, which a
// call would read after writing y (a reader's memory is not known).
void check_apart(const Samples& x, std::span<const std::complex<float>> y);

// Throws Error 1 for options no call takes: negative workers, a negative or
// NaN loading.
void check_options(const Options& options);

// The threads a call with `options` uses: its workers, or every processor's
// for 0, at most 64.
int workers_of(const Options& options);

class SampleViewBlocks final : public SampleBlocks {
 public:
  // `x` must have passed check_samples, and a reader must outlive this. The
  // blocks are made on `workers` threads. With `first` and `count`, these
  // are x's samples [first, first + count) alone.
  SampleViewBlocks(const Samples& x, int workers, std::stop_token stop);
  SampleViewBlocks(const Samples& x, int workers, std::stop_token stop, std::int64_t first,
                   std::int64_t count);

  std::int64_t samples() const override { return count_; }
  std::int64_t channels() const override { return x_.channels(); }
  // Copies the blocks on every worker, while the calling thread uses each
  // in turn (std::bad_alloc when no room for a block can be had), and stops
  // between blocks once `stop` is requested.
  bool for_each_block(std::int64_t first, std::int64_t count,
                      const SampleBlockUse& use) const override;

  // The samples of one block: as many as keep the block's copy and its
  // covariance work small, at least one.
  std::int64_t block_samples() const;

  // The room one sample of a block takes in fill_block, in bytes.
  std::size_t room_per_sample() const;

  // Samples [first, first + count) in the kernels' layout, copied into
  // `room` (count x room_per_sample() bytes): the real parts first, then the
  // imaginary ones (count x K each). May run on any thread.
  SampleBlock fill_block(std::int64_t first, std::int64_t count, char* room) const;

  const std::stop_token& stop() const { return stop_; }
  int workers() const { return workers_; }

 private:
  Samples x_;
  std::int64_t first_ = 0;
  std::int64_t count_;
  int workers_;
  std::stop_token stop_;
};

}  // namespace tarvel::library

// A caller's samples in any layout, or from a caller's reader, handed to the
// statistics and the combining a block at a time in the kernels' layout.
#pragma once

#include <cstdint>
#include <stop_token>

#include "combine/sample_blocks.h"
#include "tarvel/tarvel.h"

namespace tarvel::library {

// Throws the Error of counts S or K below 1 or past the bounds of
// `arithmetic`: 2^31 - 1 for K, and for S in the command's arithmetic.
void check_counts(std::int64_t samples, std::int64_t channels, Arithmetic arithmetic);

// Throws the Error of a view that cannot be read: check_counts', no data, or
// elements whose offsets overflow.
void check_view(const SampleView& x, Arithmetic arithmetic);

// The threads a call with `options` uses: its workers, or every processor's
// for 0, at most 64. Throws Error 1 for negative workers.
int workers_of(const Options& options);

class SampleViewBlocks final : public SampleBlocks {
 public:
  // `x` must have passed check_view. The blocks are made on `workers`
  // threads.
  SampleViewBlocks(const SampleView& x, int workers, std::stop_token stop)
      : x_(x), workers_(workers), stop_(std::move(stop)) {}
  // The counts must have passed check_counts; `read` must outlive this.
  SampleViewBlocks(std::int64_t samples, std::int64_t channels, const SampleReader& read,
                   int workers, std::stop_token stop)
      : x_{nullptr, samples, channels, channels, 1},
        read_(&read),
        workers_(workers),
        stop_(std::move(stop)) {}

  std::int64_t samples() const override { return x_.samples; }
  std::int64_t channels() const override { return x_.channels; }
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
  SampleView x_;
  const SampleReader* read_ = nullptr;
  int workers_;
  std::stop_token stop_;
};

}  // namespace tarvel::library

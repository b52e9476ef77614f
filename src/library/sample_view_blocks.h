// A caller's samples in any layout, handed to the statistics and the
// combining a block at a time in the kernels' layout.
#pragma once

#include <cstdint>
#include <stop_token>

#include "combine/sample_blocks.h"
#include "tarvel/tarvel.h"

namespace tarvel::library {

// Throws the Error of a view that cannot be read: S or K below 1 or past the
// 32-bit bounds, no data, or elements whose offsets overflow.
void check_view(const SampleView& x);

class SampleViewBlocks final : public SampleBlocks {
 public:
  // `x` must have passed check_view.
  SampleViewBlocks(const SampleView& x, std::stop_token stop) : x_(x), stop_(std::move(stop)) {}

  std::int64_t samples() const override { return x_.samples; }
  std::int64_t channels() const override { return x_.channels; }
  // Copies each block into a buffer of its own call (std::bad_alloc when
  // it cannot be had), and stops between blocks once `stop` is requested.
  bool for_each_block(std::int64_t first, std::int64_t count,
                      const SampleBlockUse& use) const override;

  // The samples of one block: as many as keep the block's copy and its
  // covariance work small, at least one.
  std::int64_t block_samples() const;

 private:
  SampleView x_;
  std::stop_token stop_;
};

}  // namespace tarvel::library

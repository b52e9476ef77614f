// Samples handed to the statistics and the combining a block at a time, in
// the kernels' layout, so that the same passes run over the tool's table in
// memory and over a caller's samples in any layout, read in place.
#pragma once

#include <cstdint>
#include <functional>

#include "runtime/arrays.h"

namespace tarvel {

// `count` consecutive samples: the real and the imaginary parts, each sample's
// channels adjacent, sample by sample.
struct SampleBlock {
  const float* xr;
  const float* xi;
  std::int64_t count;
};

using SampleBlockUse = std::function<void(const SampleBlock& block)>;

class SampleBlocks {
 public:
  virtual ~SampleBlocks() = default;

  virtual std::int64_t samples() const = 0;
  virtual std::int64_t channels() const = 0;

  // Hands samples [first, first + count) to `use` in consecutive blocks, in
  // order. Returns false, having stopped between two blocks, when the
  // caller's stop was requested. May be called from several threads at once
  // on disjoint ranges. A block's pointers are valid during its use only.
  virtual bool for_each_block(std::int64_t first, std::int64_t count,
                              const SampleBlockUse& use) const = 0;
};

// The sample parts of a table in memory (S x K, row by row), handed on as
// one block, with no copy.
class TableBlocks final : public SampleBlocks {
 public:
  TableBlocks(const Array2<float>& xr, const Array2<float>& xi) : xr_(xr), xi_(xi) {}

  std::int64_t samples() const override { return xr_.rows(); }
  std::int64_t channels() const override { return xr_.columns(); }
  bool for_each_block(std::int64_t first, std::int64_t count,
                      const SampleBlockUse& use) const override {
    if (count > 0) use({xr_.row(first + 1), xi_.row(first + 1), count});
    return true;
  }

 private:
  const Array2<float>& xr_;
  const Array2<float>& xi_;
};

}  // namespace tarvel

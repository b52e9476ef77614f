// What a tarvel::Accumulator holds: exact sums of its samples.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "combine/exact_statistics.h"
#include "tarvel/tarvel.h"

namespace tarvel {
namespace detail {

struct AccumulatorState {
  ExactStatistics sums;
};

}  // namespace detail

namespace library {

// The sums as the versioned bytes of Accumulator::to_bytes, and back. The
// reading throws Error 1 for bytes that are not such a layout.
std::vector<std::uint8_t> accumulator_bytes(const ExactStatistics& sums);
ExactStatistics accumulator_of_bytes(std::span<const std::uint8_t> bytes);

}  // namespace library
}  // namespace tarvel

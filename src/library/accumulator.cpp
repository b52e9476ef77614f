#include <limits>

#include "library/accumulator_state.h"
#include "library/estimate_values.h"
#include "library/exact_accumulation.h"
#include "library/failure.h"
#include "library/sample_view_blocks.h"
#include "runtime/arrays.h"
#include "runtime/fp_environment.h"

namespace tarvel {
Accumulator::Accumulator(std::int64_t channels)
    : state_(library::with_errors([&] {
        if (channels < 1)
          library::fail(Failure::illegal_function_call,
                        "an accumulator needs at least one channel");
        if (channels > kMaxCount) {
          library::fail(Failure::out_of_memory, "an accumulator has more channels than 2147483647");
        }
        return std::make_unique<detail::AccumulatorState>(
            detail::AccumulatorState{ExactStatistics(channels)});
      })) {}

Accumulator::Accumulator(std::unique_ptr<detail::AccumulatorState> state) noexcept
    : state_(std::move(state)) {}

Accumulator::Accumulator(const Accumulator& other)
    : state_(library::with_errors(
          [&] { return std::make_unique<detail::AccumulatorState>(*other.state_); })) {}

Accumulator::Accumulator(Accumulator&& other) noexcept = default;

Accumulator& Accumulator::operator=(const Accumulator& other) {
  if (this != &other) *this = Accumulator(other);
  return *this;
}

Accumulator& Accumulator::operator=(Accumulator&& other) noexcept = default;
Accumulator::~Accumulator() = default;

std::int64_t Accumulator::channels() const noexcept {
  return state_->sums.channels();
}

std::int64_t Accumulator::samples() const noexcept {
  return state_->sums.samples();
}

namespace {

// Adds blocks' samples to `state` as one step: into a copy, which replaces
// the state only once every sample is in.
void add_blocks(detail::AccumulatorState& state, const library::SampleViewBlocks& blocks,
                const Options& options) {
  if (options.arithmetic != Arithmetic::exact) {
    library::fail(Failure::illegal_function_call,
                  "an accumulator holds exact sums only, not the command's");
  }
  if (blocks.channels() != state.sums.channels()) {
    library::fail(Failure::illegal_function_call,
                  "the samples have " + std::to_string(blocks.channels()) +
                      " channels, the accumulator " + std::to_string(state.sums.channels()));
  }
  FloatingPointScope environment;
  ExactStatistics added = state.sums;
  library::add_exactly(blocks, added);
  state.sums = std::move(added);
}

}  // namespace

void Accumulator::add(const Samples& x, const Options& options, std::stop_token stop) {
  library::with_errors([&] {
    library::check_options(options);
    library::check_samples(x, Arithmetic::exact);
    add_blocks(*state_, library::SampleViewBlocks(x, library::workers_of(options), stop), options);
    return true;
  });
}

void Accumulator::add(const SampleView& x, const Options& options, std::stop_token stop) {
  add(Samples(x), options, std::move(stop));
}

void Accumulator::add(std::int64_t samples, const SampleReader& read, const Options& options,
                      std::stop_token stop) {
  add(Samples(samples, channels(), read), options, std::move(stop));
}

void Accumulator::merge(const Accumulator& other) {
  library::with_errors([&] {
    if (other.channels() != channels()) {
      library::fail(Failure::illegal_function_call,
                    "an accumulator of " + std::to_string(other.channels()) +
                        " channels cannot merge into one of " + std::to_string(channels()));
    }
    if (other.samples() > std::numeric_limits<std::int64_t>::max() - samples()) {
      library::fail(Failure::illegal_function_call,
                    "the accumulator would hold more than 9223372036854775807 samples");
    }
    state_->sums.merge(other.state_->sums);
    return true;
  });
}

Estimate Accumulator::estimate() const {
  return library::with_errors([&] { return library::estimate_exactly(state_->sums, 0, {}); });
}

std::vector<std::uint8_t> Accumulator::to_bytes() const {
  return library::with_errors([&] { return library::accumulator_bytes(state_->sums); });
}

Accumulator Accumulator::from_bytes(std::span<const std::uint8_t> bytes) {
  return library::with_errors([&] {
    return Accumulator(std::make_unique<detail::AccumulatorState>(
        detail::AccumulatorState{library::accumulator_of_bytes(bytes)}));
  });
}

}  // namespace tarvel

// Blocks of samples made on every worker and used in order on the calling
// thread, until a caller's stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stop_token>

namespace tarvel::library {

// Makes block `block` into `out`: fills it and returns how many samples it
// holds. Runs on any worker.
using SampleBlockMaker = std::function<std::int64_t(std::int64_t block, char* out)>;
// Uses a made block, whose first sample is `first`, on the calling thread.
using SampleBlockUser =
    std::function<void(std::int64_t first, const char* bytes, std::int64_t samples)>;

// Makes blocks 0 .. block_count - 1 of `samples_per_block` samples of
// `sample_bytes` bytes each on `workers` threads (produce_in_order) and uses
// them in order. Once
// `stop` is requested, the blocks left are neither made nor used, and it
// returns false, at once however many blocks were left. Throws std::bad_alloc when no block's room
// can be had, and the first exception a make or a use threw, on the calling
// thread, once every worker has stopped.
bool make_and_use_blocks(std::int64_t block_count, std::int64_t samples_per_block,
                         std::size_t sample_bytes, int workers, const std::stop_token& stop,
                         const SampleBlockMaker& make, const SampleBlockUser& use);

}  // namespace tarvel::library

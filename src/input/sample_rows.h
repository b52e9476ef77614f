// One sample of the second pass: the time, then the real and imaginary part
// of every channel, as the reading of the samples defines it wherever it is
// done.
#pragma once

#include <atomic>
#include <cstdint>

#include "input/field_scanner.h"
#include "input/input_file.h"
#include "input/sample_table.h"

namespace tarvel::detail {

// Whether the data of `file`, which the second pass keeps open throughout,
// has ended: bytes left in the window answer at once, without the call.
[[gnu::always_inline]] inline bool sample_data_ended(InputFile& file) {
  return file.next == file.end && at_end_of_file(file);
}

// `reader` reads from `file`, which the second pass keeps open throughout:
// each channel's statement would make it the reader's source again, which
// changes nothing while it stays open, so that is done once for all rows.
[[gnu::always_inline]] inline void read_sample_row(NumericReader& reader, std::int64_t sample,
                                                   std::int64_t channel_count, SampleTable& table) {
  table.t(sample) = read_double_field(reader);
  float* re = table.xr.row(sample);
  float* im = table.xi.row(sample);
  for (std::int64_t k = 0; k < channel_count; ++k) {
    re[k] = read_single_field(reader);
    im[k] = read_single_field(reader);
  }
}

// The second pass's sample rule over a range of the delivered stream: reads
// the samples after sample `samples` from `file` through `reader` until
// sample `last` is read or the data ends before a sample begins (a sample it
// cuts short is completed with zeros and still counts), and returns the
// number of the last sample read. Stops early too once `give_up`, which
// another thread may lower at any time, is 0.
inline std::int64_t read_sample_range(InputFile& file, NumericReader& reader, std::int64_t samples,
                                      std::int64_t last, std::int64_t channel_count,
                                      SampleTable& table,
                                      const std::atomic<std::uint64_t>* give_up) {
  while (samples < last && !sample_data_ended(file)) {
    if (give_up != nullptr && give_up->load(std::memory_order_relaxed) == 0) break;
    ++samples;
    read_sample_row(reader, samples, channel_count, table);
  }
  return samples;
}

}  // namespace tarvel::detail

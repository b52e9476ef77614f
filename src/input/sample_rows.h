// One sample of the second pass: the time, then the real and imaginary part
// of every channel, each channel a statement of its own, as the reading of
// the samples defines it wherever it is done.
#pragma once

#include <cstdint>

#include "input/field_scanner.h"
#include "input/input_file.h"
#include "input/two_pass_reader.h"

namespace tarvel::detail {

[[gnu::always_inline]] inline void read_sample_row(NumericReader& reader, InputFile& file,
                                                   std::int64_t sample, std::int64_t channel_count,
                                                   SampleTable& table) {
  begin_numeric_read(reader, file);
  table.t(sample) = read_double_field(reader);
  float* re = table.xr.row(sample);
  float* im = table.xi.row(sample);
  for (std::int64_t k = 0; k < channel_count; ++k) {
    begin_numeric_read(reader, file);
    re[k] = read_single_field(reader);
    im[k] = read_single_field(reader);
  }
}

}  // namespace tarvel::detail

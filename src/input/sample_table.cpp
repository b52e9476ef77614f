#include "input/sample_table.h"

namespace tarvel {

RuntimeErrorCode allocate_sample_table(SampleTable& table, std::int64_t sample_count,
                                       std::int64_t channel_count) {
  if (RuntimeErrorCode code = table.t.allocate(sample_count); code != kNoError) return code;
  if (RuntimeErrorCode code = table.xr.allocate(sample_count, channel_count); code != kNoError) {
    return code;
  }
  return table.xi.allocate(sample_count, channel_count);
}

}  // namespace tarvel

#include "output/output_lines.h"

#include <algorithm>

namespace tarvel {

char* format_lines(const Array1<double>& t, const Array1<float>& yr, const Array1<float>& yi,
                   std::int64_t first, std::int64_t last, char* out) {
  for (std::int64_t n = first; n <= last; ++n) {
    out += format_double_item(t(n), out);
    *out++ = ' ';
    out += format_single_item(yr(n), out);
    *out++ = ' ';
    out += format_single_item(yi(n), out);
    *out++ = '\r';
    *out++ = '\n';
  }
  return out;
}

std::size_t format_block(const Array1<double>& t, const Array1<float>& yr, const Array1<float>& yi,
                         std::int64_t block, char* out) {
  const std::int64_t first = block * kLinesPerBlock + 1;
  const std::int64_t last = std::min(t.size(), first + kLinesPerBlock - 1);
  return static_cast<std::size_t>(format_lines(t, yr, yi, first, last, out) - out);
}

}  // namespace tarvel

#include "output/output_lines.h"

#include <algorithm>
#include <cmath>

#include "output/item_figures.h"

namespace tarvel {
namespace {

// Lines go in groups: first the figures of every item of the group, which do
// not depend on one another and so overlap in the processor, then the texts,
// one after the other.
constexpr std::int64_t kGroupLines = 32;

}  // namespace

char* format_lines(const OutputColumns& columns, std::int64_t first, std::int64_t last, char* out) {
  const auto t = [&](std::int64_t n) { return columns.t[n - 1]; };
  const auto yr = [&](std::int64_t n) { return columns.yr[(n - 1) * columns.y_step]; };
  const auto yi = [&](std::int64_t n) { return columns.yi[(n - 1) * columns.y_step]; };
  ItemFigures time[kGroupLines];
  ItemFigures re[kGroupLines];
  ItemFigures im[kGroupLines];
  bool short_path[kGroupLines];
  for (std::int64_t start = first; start <= last; start += kGroupLines) {
    const int count = static_cast<int>(std::min(kGroupLines, last - start + 1));
    for (int i = 0; i < count; ++i) {
      const bool time_short = double_item_figures(t(start + i), time[i]);
      const bool re_short = single_item_figures(yr(start + i), re[i]);
      const bool im_short = single_item_figures(yi(start + i), im[i]);
      short_path[i] = time_short && re_short && im_short;
    }
    for (int i = 0; i < count; ++i) {
      const std::int64_t n = start + i;
      if (short_path[i]) {
        *out = std::signbit(t(n)) ? '-' : ' ';
        out = write_sixteen_figures(out + 1, time[i]);
        *out++ = ' ';
        *out = std::signbit(yr(n)) ? '-' : ' ';
        out = write_seven_figures(out + 1, re[i]);
        *out++ = ' ';
        *out = std::signbit(yi(n)) ? '-' : ' ';
        out = write_seven_figures(out + 1, im[i]);
      } else {
        out += format_double_item(t(n), out);
        *out++ = ' ';
        out += format_single_item(yr(n), out);
        *out++ = ' ';
        out += format_single_item(yi(n), out);
      }
      *out++ = '\r';
      *out++ = '\n';
    }
  }
  return out;
}

std::size_t format_block(const OutputColumns& columns, std::int64_t block, char* out) {
  const std::int64_t first = block * kLinesPerBlock + 1;
  const std::int64_t last = std::min(columns.size, first + kLinesPerBlock - 1);
  return static_cast<std::size_t>(format_lines(columns, first, last, out) - out);
}

}  // namespace tarvel

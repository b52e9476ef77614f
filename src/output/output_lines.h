// The lines of the output file, "t yr yi" and CR LF, formatted a block at a
// time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/real_format.h"
#include "runtime/arrays.h"

namespace tarvel {

// The longest output line: three numbers, two blanks, CR LF.
inline constexpr std::size_t kLineCapacity = 3 * kRealTextCapacity + 4;
inline constexpr std::int64_t kLinesPerBlock = 1024;
// The room one block of lines may need.
inline constexpr std::size_t kBlockCapacity = kLinesPerBlock * kLineCapacity;

// The three columns of the lines: sample n (0-based) is t[n], yr[n·y_step]
// and yi[n·y_step], so that the real and imaginary parts may lie apart or
// interleaved.
struct OutputColumns {
  const double* t;
  const float* yr;
  const float* yi;
  std::int64_t y_step;
  std::int64_t size;
};

// The columns of arrays t, yr and yi of one size.
inline OutputColumns columns_of(const Array1<double>& t, const Array1<float>& yr,
                                const Array1<float>& yi) {
  return {t.data(), yr.data(), yi.data(), 1, t.size()};
}

// Lines `first` to `last` (1-based) into `out`; returns their end.
char* format_lines(const OutputColumns& columns, std::int64_t first, std::int64_t last, char* out);
inline char* format_lines(const Array1<double>& t, const Array1<float>& yr, const Array1<float>& yi,
                          std::int64_t first, std::int64_t last, char* out) {
  return format_lines(columns_of(t, yr, yi), first, last, out);
}

// Block `block` (0-based) of the lines into `out`, at most kBlockCapacity
// bytes; returns its size.
std::size_t format_block(const OutputColumns& columns, std::int64_t block, char* out);
inline std::size_t format_block(const Array1<double>& t, const Array1<float>& yr,
                                const Array1<float>& yi, std::int64_t block, char* out) {
  return format_block(columns_of(t, yr, yi), block, out);
}

// How many blocks the lines of `line_count` samples make.
inline std::int64_t block_count(std::int64_t line_count) {
  return (line_count + kLinesPerBlock - 1) / kLinesPerBlock;
}

}  // namespace tarvel

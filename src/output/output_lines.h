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

// Lines `first` to `last` (1-based) into `out`; returns their end.
char* format_lines(const Array1<double>& t, const Array1<float>& yr, const Array1<float>& yi,
                   std::int64_t first, std::int64_t last, char* out);

// Block `block` (0-based) of the lines of t, yr and yi into `out`, at most
// kBlockCapacity bytes; returns its size.
std::size_t format_block(const Array1<double>& t, const Array1<float>& yr, const Array1<float>& yi,
                         std::int64_t block, char* out);

// How many blocks the lines of `line_count` samples make.
inline std::int64_t block_count(std::int64_t line_count) {
  return (line_count + kLinesPerBlock - 1) / kLinesPerBlock;
}

}  // namespace tarvel

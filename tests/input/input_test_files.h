// Helpers shared by the input tests: byte strings opened as input files, and
// the text-mode delivery worked out byte by byte as the reference.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_file.h"
#include "support/temp_folder.h"
#include "support/text_reference.h"

namespace tarvel::testing {

using reference::reference_delivery;
using reference::reference_lines;
using reference::visible;

inline constexpr int kTestFileNumber = 1;

// Chunk sizes that put a refill at every small offset, and the real one.
inline constexpr std::size_t kBufferSizes[] = {2, 3, 4, 5, 7, 16, 509, kInputBufferSize};

// A temporary file holding `bytes`, open as input file number 1 and read in
// chunks of `buffer_size` bytes; closed again at the end of the scope.
class OpenedBytes {
 public:
  explicit OpenedBytes(const std::string& bytes, std::size_t buffer_size = kInputBufferSize) {
    folder_.write("input.txt", bytes);
    RuntimeErrorCode code =
        open_for_input(file_, folder_.file("input.txt"), kTestFileNumber, buffer_size);
    if (code != kNoError) ADD_FAILURE() << "open_for_input gave " << code;
  }
  ~OpenedBytes() { close_file(file_); }
  OpenedBytes(const OpenedBytes&) = delete;
  OpenedBytes& operator=(const OpenedBytes&) = delete;

  InputFile& file() { return file_; }
  std::string path() const { return folder_.file("input.txt"); }

 private:
  TempFolder folder_;
  InputFile file_;
};

// Runs of one letter, for long lines.
inline std::string letters(std::size_t count, char letter = 'x') {
  return std::string(count, letter);
}

}  // namespace tarvel::testing

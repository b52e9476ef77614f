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

namespace tarvel::testing {

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

// The bytes the text mode delivers for `raw`, one byte at a time: CR LF as
// LF, a lone CR as CR, nothing from a Ctrl-Z on.
inline std::string reference_delivery(std::string_view raw) {
  std::string delivered;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\x1a') break;
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    delivered += raw[i];
  }
  return delivered;
}

// The lines of the delivered bytes, found the slow and literal way: each
// piece read byte by byte into a zeroed 512-byte buffer, then judged by its
// last nonzero byte.
inline std::vector<std::string> reference_lines(const std::string& delivered) {
  std::vector<std::string> lines;
  std::size_t position = 0;
  while (position < delivered.size()) {
    std::string line;
    for (bool first_piece = true;; first_piece = false) {
      char piece[512];
      std::memset(piece, 0, sizeof piece);
      std::size_t stored = 0;
      while (stored < 511 && position < delivered.size()) {
        piece[stored++] = delivered[position++];
        if (piece[stored - 1] == '\n') break;
      }
      if (stored == 0) break;
      int last = 510;
      while (last >= 0 && piece[last] == '\0') --last;
      std::string text;
      bool ends = false;
      if (last >= 0 && piece[last] == '\n') {
        int size = last;
        if (size > 0 && piece[size - 1] == '\r') --size;
        text.assign(piece, static_cast<std::size_t>(size));
        ends = true;
      } else if (last >= 0 && piece[last] == '\r') {
        text.assign(piece, static_cast<std::size_t>(last));
        ends = true;
      } else {
        text.assign(piece, static_cast<std::size_t>(last + 1));
      }
      line = first_piece ? text : line + text;
      if (ends) break;
    }
    lines.push_back(line);
  }
  return lines;
}

// `bytes` with control and high bytes spelled out, for failure messages.
inline std::string visible(std::string_view bytes) {
  std::string shown;
  for (unsigned char c : bytes) {
    switch (c) {
      case '\n':
        shown += "[LF]";
        break;
      case '\r':
        shown += "[CR]";
        break;
      case '\0':
        shown += "[NUL]";
        break;
      case 0x1a:
        shown += "[SUB]";
        break;
      default:
        if (c < 0x20 || c >= 0x7f) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "[%02X]", c);
          shown += hex;
        } else {
          shown += static_cast<char>(c);
        }
    }
  }
  return shown;
}

// Runs of one letter, for long lines.
inline std::string letters(std::size_t count, char letter = 'x') {
  return std::string(count, letter);
}

}  // namespace tarvel::testing

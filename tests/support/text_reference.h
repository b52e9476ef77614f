// The text-mode delivery and the line rule restated the slow and literal
// way, one byte at a time, as the reference of the input tests and the fuzz
// targets, and a readable form of raw bytes for their messages. Free of any
// test framework, so that the fuzz targets can use it too.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tarvel::reference {

// The bytes the text mode delivers for `raw`: CR LF as LF, a lone CR as CR,
// nothing from a Ctrl-Z on.
inline std::string reference_delivery(std::string_view raw) {
  std::string delivered;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\x1a') break;
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    delivered += raw[i];
  }
  return delivered;
}

// One whole-line read of the delivered bytes from `position`: each piece read
// byte by byte into a zeroed 512-byte buffer, then judged by its last nonzero
// byte. Returns false, with an empty line, when not a single byte was left.
inline bool reference_next_line(const std::string& delivered, std::size_t& position,
                                std::string& line) {
  line.clear();
  for (bool first_piece = true;; first_piece = false) {
    char piece[512];
    std::memset(piece, 0, sizeof piece);
    std::size_t stored = 0;
    while (stored < 511 && position < delivered.size()) {
      piece[stored++] = delivered[position++];
      if (piece[stored - 1] == '\n') break;
    }
    if (stored == 0) return !first_piece;
    int last = 510;
    while (last >= 0 && piece[last] == '\0') --last;
    if (last >= 0 && piece[last] == '\n') {
      int size = last;
      if (size > 0 && piece[size - 1] == '\r') --size;
      line.append(piece, static_cast<std::size_t>(size));
      return true;
    }
    if (last >= 0 && piece[last] == '\r') {
      line.append(piece, static_cast<std::size_t>(last));
      return true;
    }
    line.append(piece, static_cast<std::size_t>(last + 1));
  }
}

// Every line of the delivered bytes from `position` on.
inline std::vector<std::string> reference_lines(const std::string& delivered,
                                                std::size_t position = 0) {
  std::vector<std::string> lines;
  std::string line;
  while (reference_next_line(delivered, position, line)) lines.push_back(line);
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

}  // namespace tarvel::reference

// The print operation: every byte the tool writes to the console or to a
// numbered file goes through it.
#pragma once

#include <string_view>

namespace tarvel {

// Writes `text` unchanged to file number 0, the console (standard output,
// written at once, partial writes retried, failures not reported), or to one
// of the numbered files 1..255 of the open-file table, through its buffer. On
// a number outside 0..255 or a numbered file that is not open nothing is
// written and the current run-time error becomes 1; a failed file write makes
// it 3; otherwise it becomes 0. Does not allocate.
void print_text(int file_number, std::string_view text);

// The same, then CR LF.
void print_line(int file_number, std::string_view text);

}  // namespace tarvel

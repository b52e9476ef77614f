// The output file: its name, and the writer of the combined signal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "output/early_lines.h"
#include "runtime/arrays.h"
#include "runtime/runtime_error.h"

namespace tarvel {

inline constexpr int kOutputFileNumber = 2;

// The input name less a final ".txt" (exact bytes, case counts) plus
// "_out.txt". Allocates the returned string.
std::string make_output_name(std::string_view input_name);

// Creates or truncates `name` as numbered file `file_number`, a binary byte
// stream buffered in 8192-byte blocks. Returns 0; 1 for an empty name or a
// number already open; 2 when the platform refuses to create or truncate it.
RuntimeErrorCode open_for_output(std::string_view name, int file_number);

// Prints the empty console line and the writing line, creates the file (abort
// at report line 214 on failure), writes one line per sample "t yr yi" and
// closes it (abort at report line 219, code 3, when any byte could not be
// written). Returns only when every byte reached the file. `early`, when
// given, holds the first lines of the same arrays, formatted ahead; it is
// stopped once the file is open.
void write_output_file(std::string_view output_name, const Array1<double>& t,
                       const Array1<float>& yr, const Array1<float>& yi,
                       EarlyLines* early = nullptr);

}  // namespace tarvel

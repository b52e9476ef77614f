// The output file: its name, and the writer of the combined signal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stop_token>
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

// Takes the next bytes of the file.
using OutputSink = std::function<void(const char* bytes, std::size_t size)>;

// Hands every line of `columns` to `sink`, in order, in large pieces whose
// boundaries fall on multiples of 1 MiB of the file. `early`, when given,
// holds the first lines of the same columns, formatted ahead; it is stopped
// first. Returns false when `stop` was requested before the last line: the
// lines made until then have been handed on. Allocates its buffers, and
// makes do line by line without them.
bool produce_output_lines(const OutputColumns& columns, EarlyLines* early, const OutputSink& sink,
                          const std::stop_token& stop = {});

// Prints the empty console line and the writing line, creates the file (abort
// at kOpenOutputLine on failure), writes one line per sample "t yr yi" and
// closes it (abort at kCloseOutputLine, code 3, when any byte could not be
// written). Returns only when every byte reached the file. `early`, when
// given, holds the first lines of the same arrays, formatted ahead; it is
// stopped once the file is open.
void write_output_file(std::string_view output_name, const Array1<double>& t,
                       const Array1<float>& yr, const Array1<float>& yi,
                       EarlyLines* early = nullptr);

}  // namespace tarvel

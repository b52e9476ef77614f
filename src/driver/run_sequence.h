// The run: the fixed order of the phases from the input name to the output file.
#pragma once

#include <string_view>

namespace tarvel {

// Runs the whole job on `input_name` and ends the process: status 0 after the
// output file is written, 1 for an empty name, 17 when the input ends before
// S samples, or an abort report with its code from a guarded step. Owns every
// array of the run. Never returns.
[[noreturn]] void run(std::string_view input_name);

}  // namespace tarvel

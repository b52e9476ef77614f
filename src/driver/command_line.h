// The input name from the command line.
#pragma once

#include <string>

namespace tarvel {

// Every argument after the program name, in order, joined by one blank (0x20).
// Wildcards have already been expanded by the shell. Allocates the result.
std::string join_input_name(int argc, const char* const* argv);

}  // namespace tarvel

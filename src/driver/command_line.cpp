#include "driver/command_line.h"

namespace tarvel {

std::string join_input_name(int argc, const char* const* argv) {
  std::string name;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) name += ' ';
    name += argv[i];
  }
  return name;
}

}  // namespace tarvel

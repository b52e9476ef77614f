// The abort report the tool writes to standard error for a run-time error,
// spelled out here rather than taken from the code that formats it.
#pragma once

#include <string>

namespace tarvel::testing {

inline std::string abort_report(int code, const std::string& message, int line) {
  return "\nAborting due to runtime error " + std::to_string(code) + " (" + message + ") at line " +
         std::to_string(line) + " of tarvel()\n\n";
}

}  // namespace tarvel::testing

// The tool's run as the library's call tarvel::run: the tool's standard
// output for a file it combines, and its exit status (Error::code()) for one
// it does not. For the differential against the tool
// (`differential --errors-by-status`).
//
//   library_run FILE
#include <cstdio>

#include "tarvel/tarvel.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 1;
  }
  try {
    const tarvel::RunResult result = tarvel::run(argv[1]);
    std::fwrite(result.standard_output.data(), 1, result.standard_output.size(), stdout);
  } catch (const tarvel::Error& error) {
    return error.code();
  }
  return 0;
}

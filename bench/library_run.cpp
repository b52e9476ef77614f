// The tool's run made of the library's calls alone: read_text, combine in
// the command's arithmetic,
// report and write_text, with the tool's standard output for a file it
// combines, and its exit status (Error::code()) for one it does not. For the
// differential against the tool (`differential --errors-by-status`).
//
//   library_run FILE
#include <cstdio>
#include <string>
#include <vector>

#include "tarvel/tarvel.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 1;
  }
  try {
    const std::string name = argv[1];
    const tarvel::TextSamples samples = tarvel::read_text(name);
    std::vector<std::complex<float>> combined(static_cast<std::size_t>(samples.sample_count));
    const tarvel::Estimate estimate = tarvel::combine(tarvel::view(samples), combined,
                                                      tarvel::Options{tarvel::Arithmetic::command});
    const std::string output = tarvel::output_path(name).string();
    const std::string text = "reading " + name + " " + std::to_string(samples.channel_count) +
                             " channels " + std::to_string(samples.sample_count) +
                             " samples\r\n\r\n" + tarvel::report(estimate) + "\r\nwriting " +
                             output + "\r\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    tarvel::write_text(output, samples.times, combined);
  } catch (const tarvel::Error& error) {
    return error.code();
  }
  return 0;
}

#include "output/output_file.h"
#include "tarvel/tarvel.h"

namespace tarvel {

std::filesystem::path output_path(const std::filesystem::path& input) {
  return std::filesystem::path(make_output_name(input.string()));
}

}  // namespace tarvel

// Fuzz target of the channel count: any bytes as a first line, counted by
// count_fields and by the literal round-by-round loop of the reference.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_reference.h"
#include "fuzz_support.h"
#include "input/two_pass_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvel::fuzz;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::int64_t count = tarvel::count_fields(line);
  const std::int64_t want = reference_count_fields(line);
  if (count != want) {
    fail("count_fields of \"%s\" gave %lld, expected %lld", visible(line).c_str(),
         static_cast<long long>(count), static_cast<long long>(want));
  }
  return 0;
}

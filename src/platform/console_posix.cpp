#include <unistd.h>

#include "platform/console.h"
#include "platform/files.h"

namespace tarvel::platform {

void write_standard_output(const char* bytes, std::size_t size) {
  // A terminal takes the bytes as they are, like a file or a pipe.
  write_fully(STDOUT_FILENO, bytes, size);
}

void write_standard_error(const char* bytes, std::size_t size) {
  write_fully(STDERR_FILENO, bytes, size);
}

}  // namespace tarvel::platform

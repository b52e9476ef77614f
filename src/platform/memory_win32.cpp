#include "platform/memory.h"

namespace tarvel::platform {

// Large pages on Windows need a privilege that a user's process does not
// have, and must be asked for when the memory is allocated.
void advise_large_pages(void*, std::size_t) {}

}  // namespace tarvel::platform

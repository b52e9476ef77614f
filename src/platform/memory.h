// Advice to the system on how the run's large arrays are used.
#pragma once

#include <cstddef>

namespace tarvel::platform {

// Asks for large pages behind the whole 2 MiB pages of [start, start + size),
// memory not touched yet: the run writes every byte of its large arrays once,
// and on some systems (virtual machines most) a fault per 4 KiB page costs
// more than the writing. Only advice: where the system has no such pages or
// refuses, nothing changes. Never fails.
void advise_large_pages(void* start, std::size_t size);

}  // namespace tarvel::platform

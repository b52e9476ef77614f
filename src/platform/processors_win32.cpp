#include <windows.h>

#include <bit>

#include "platform/processors.h"

namespace tarvel::platform {

int available_processors() {
  // A process that spans processor groups runs on every active processor;
  // else on those of its affinity mask, which names one group's.
  USHORT groups = 0;
  ::GetProcessGroupAffinity(::GetCurrentProcess(), &groups, nullptr);
  if (groups > 1) {
    const DWORD active = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return active > 0 ? static_cast<int>(active) : 1;
  }
  DWORD_PTR process_mask = 0;
  DWORD_PTR system_mask = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process_mask, &system_mask) &&
      process_mask != 0) {
    return std::popcount(static_cast<unsigned long long>(process_mask));
  }
  return 1;
}

}  // namespace tarvel::platform

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/processors.h"

namespace tarvel::platform {
namespace {

std::string read_small_file(const char* path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The quota of this process's cgroup: cpu.max where the unified hierarchy
// is mounted, else the older controller's two files.
std::optional<int> quota_processors() {
  if (const std::optional<int> unified =
          processors_of_quota(read_small_file("/sys/fs/cgroup/cpu.max"))) {
    return unified;
  }
  std::string quota = read_small_file("/sys/fs/cgroup/cpu/cpu.cfs_quota_us");
  const std::string period = read_small_file("/sys/fs/cgroup/cpu/cpu.cfs_period_us");
  while (!quota.empty() && quota.back() == '\n') quota.pop_back();
  return processors_of_quota(quota + " " + period);
}

}  // namespace

int available_processors() {
  int processors = 0;
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) processors = CPU_COUNT(&set);
#endif
  if (processors < 1) processors = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
  if (processors < 1) processors = 1;
#if defined(__linux__)
  if (const std::optional<int> quota = quota_processors())
    processors = std::min(processors, *quota);
#endif
  return processors;
}

}  // namespace tarvel::platform

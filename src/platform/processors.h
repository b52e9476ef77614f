// How many processors this process may run on.
#pragma once

#include <optional>
#include <string_view>

namespace tarvel::platform {

// The processors this process may run on: on Linux those of its affinity
// mask, fewer under a CPU quota (cgroup cpu.max, or cpu.cfs_quota_us and
// cpu.cfs_period_us in the older hierarchy), as containers set; on Windows
// those of its affinity mask, or every active processor when it spans
// processor groups; elsewhere the processors online. At least 1. Asks the
// system on every call.
int available_processors();

// The whole processors a cgroup quota in cpu.max's form ("max 100000", or
// "QUOTA PERIOD" in microseconds) allows, rounded up, at least 1; none when
// there is no limit or the text is not of that form.
std::optional<int> processors_of_quota(std::string_view cpu_max);

}  // namespace tarvel::platform

#include "platform/processors.h"

#include <charconv>
#include <cstdint>

namespace tarvel::platform {

std::optional<int> processors_of_quota(std::string_view cpu_max) {
  while (!cpu_max.empty() && (cpu_max.back() == '\n' || cpu_max.back() == ' ')) {
    cpu_max.remove_suffix(1);
  }
  const std::size_t blank = cpu_max.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const std::string_view quota_text = cpu_max.substr(0, blank);
  const std::string_view period_text = cpu_max.substr(blank + 1);
  std::int64_t quota = 0;
  std::int64_t period = 0;
  const auto read = [](std::string_view text, std::int64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value > 0;
  };
  if (quota_text == "max" || !read(quota_text, quota) || !read(period_text, period)) {
    return std::nullopt;
  }
  const std::int64_t whole = (quota + period - 1) / period;
  return static_cast<int>(whole < 1 ? 1 : (whole > 1 << 20 ? 1 << 20 : whole));
}

}  // namespace tarvel::platform

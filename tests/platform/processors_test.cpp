#include "platform/processors.h"

#include <gtest/gtest.h>

#include <optional>

namespace tarvel::platform {
namespace {

TEST(Processors, QuotaInWholeProcessorsRoundedUp) {
  const struct {
    const char* cpu_max;
    std::optional<int> processors;
  } cases[] = {
      {"max 100000\n", std::nullopt},
      {"200000 100000\n", 2},
      {"150000 100000", 2},
      {"50000 100000\n", 1},
      {"1 100000", 1},
      {"6400000 100000", 64},
      {"", std::nullopt},
      {"100000", std::nullopt},
      {"-1 100000", std::nullopt},
      {"100000 0", std::nullopt},
      {"12x 100000", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(processors_of_quota(c.cpu_max), c.processors) << '"' << c.cpu_max << '"';
  }
}

TEST(Processors, AtLeastOneAvailable) {
  EXPECT_GE(available_processors(), 1);
}

}  // namespace
}  // namespace tarvel::platform

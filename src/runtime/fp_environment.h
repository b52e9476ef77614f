// The floating-point environment every computation of the tool assumes.
#pragma once

#include <cfenv>
#include <cstdint>
#include <limits>

namespace tarvel {

static_assert(std::numeric_limits<double>::is_iec559 && std::numeric_limits<float>::is_iec559,
              "float and double must be IEEE 754 binary32 and binary64");

// Sets every floating-point unit the program uses to rounding to nearest
// with every exception masked, so infinities and NaN propagate instead of
// trapping, and with subnormal numbers kept: the x87 unit also to a 64-bit
// significand, the SSE unit on x86, the FPCR on aarch64, and elsewhere the
// C library's default environment.
void set_floating_point_environment();

// The control state of the floating-point units the processor has.
struct FloatingPointControls {
#if defined(__x86_64__) || defined(__i386__)
  std::uint16_t x87 = 0;
  std::uint32_t sse = 0;
#elif defined(__aarch64__)
  std::uint64_t fpcr = 0;
#else
  std::fenv_t other = {};
#endif
};

// Sets the environment above for the life of the scope and then puts the
// calling thread's earlier one back, for code that computes on a caller's
// thread: the x87 control word, MXCSR and FPCR as they were, the exception
// flags of the caller's own operations included.
class FloatingPointScope {
 public:
  FloatingPointScope();
  ~FloatingPointScope();
  FloatingPointScope(const FloatingPointScope&) = delete;
  FloatingPointScope& operator=(const FloatingPointScope&) = delete;

 private:
  FloatingPointControls saved_;
};

// True when the calling thread's environment is the one the function above
// sets.
bool floating_point_environment_is_set();

}  // namespace tarvel

#include "runtime/fp_environment.h"

#include <cfenv>
#include <cstdint>

namespace tarvel {

namespace {

#if defined(__x86_64__) || defined(__i386__)
// x87 control word: exceptions masked (bits 0-5), precision control 11b
// (64-bit significand), rounding control 00b (to nearest); bits 6, 7 and
// 13-15 are reserved.
constexpr std::uint16_t kX87Control = 0x037F;
constexpr std::uint16_t kX87ControlMask = 0x0F3F;
#endif

#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE__))
#define TARVEL_HAS_SSE_CONTROL 1
#endif
#if defined(__x86_64__) || defined(__i386__)
// MXCSR: exceptions masked (bits 7-12), round to nearest, no flush to zero
// and no denormals-are-zero, flags (bits 0-5) cleared.
constexpr std::uint32_t kSseControl = 0x1F80;
constexpr std::uint32_t kSseControlMask = 0xFFC0;
constexpr FloatingPointControls kControlsSet{kX87Control, kSseControl};
#endif

#if defined(__aarch64__)
// FPCR all zero: no exception traps (bits 8-12, 15), round to nearest
// (bits 22-23), no flush to zero (bit 24), NaN operands passed on rather
// than replaced by the default NaN (bit 25), IEEE half precision.
constexpr std::uint64_t kFpcr = 0;
constexpr FloatingPointControls kControlsSet{kFpcr};
#endif

FloatingPointControls read_controls() {
  FloatingPointControls controls;
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("fnstcw %0" : "=m"(controls.x87));
#endif
#if defined(TARVEL_HAS_SSE_CONTROL)
  asm volatile("stmxcsr %0" : "=m"(controls.sse));
#endif
#if defined(__aarch64__)
  asm volatile("mrs %0, fpcr" : "=r"(controls.fpcr));
#endif
#if !defined(__x86_64__) && !defined(__i386__) && !defined(__aarch64__)
  std::fegetenv(&controls.other);
#endif
  return controls;
}

void load_controls(const FloatingPointControls& controls) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("fldcw %0" : : "m"(controls.x87));
#endif
#if defined(TARVEL_HAS_SSE_CONTROL)
  asm volatile("ldmxcsr %0" : : "m"(controls.sse));
#endif
#if defined(__aarch64__)
  asm volatile("msr fpcr, %0" : : "r"(controls.fpcr));
#endif
#if !defined(__x86_64__) && !defined(__i386__) && !defined(__aarch64__)
  std::fesetenv(&controls.other);
#endif
}

}  // namespace

void set_floating_point_environment() {
#if defined(__x86_64__) || defined(__i386__) || defined(__aarch64__)
  load_controls(kControlsSet);
#else
  // Elsewhere the standard default: round to nearest, no traps.
  std::fesetenv(FE_DFL_ENV);
  std::fesetround(FE_TONEAREST);
#endif
}

FloatingPointScope::FloatingPointScope() : saved_(read_controls()) {
  set_floating_point_environment();
}

FloatingPointScope::~FloatingPointScope() {
  load_controls(saved_);
}

bool floating_point_environment_is_set() {
  const FloatingPointControls controls = read_controls();
  bool as_set = std::fegetround() == FE_TONEAREST;
#if defined(__x86_64__) || defined(__i386__)
  as_set = as_set && (controls.x87 & kX87ControlMask) == (kX87Control & kX87ControlMask);
#endif
#if defined(TARVEL_HAS_SSE_CONTROL)
  as_set = as_set && (controls.sse & kSseControlMask) == (kSseControl & kSseControlMask);
#endif
#if defined(__aarch64__)
  as_set = as_set && controls.fpcr == kFpcr;
#endif
  return as_set;
}

}  // namespace tarvel

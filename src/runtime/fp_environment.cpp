#include "runtime/fp_environment.h"

namespace tarvel {

#if !defined(__x86_64__)
#error "tarvel's arithmetic model needs the x87 extended type of x86-64"
#endif

void set_floating_point_environment() {
  // x87 control word: exceptions masked (bits 0-5), precision control 11b
  // (64-bit significand), rounding control 00b (to nearest).
  const unsigned short x87_control = 0x037F;
  asm volatile("fldcw %0" : : "m"(x87_control));
  // MXCSR: exceptions masked (bits 7-12), round to nearest, no flush to zero
  // and no denormals-are-zero, flags cleared.
  const unsigned int sse_control = 0x1F80;
  asm volatile("ldmxcsr %0" : : "m"(sse_control));
}

}  // namespace tarvel

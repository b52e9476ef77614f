#include "output/real_format.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace tarvel {

std::size_t format_real(double value, int digits, bool sign_blank, char* out) {
  char* start = out;
  if (std::isnan(value)) {
    // A NaN's sign bit depends on operand order and the compiler, so it is
    // never shown: the output must not depend on the build.
    if (sign_blank) *out++ = ' ';
    std::memcpy(out, "nan", 3);
    return static_cast<std::size_t>(out + 3 - start);
  }
  if (sign_blank && !std::signbit(value)) *out++ = ' ';
  // to_chars in general form with a precision is printf's %g to the byte,
  // independent of the locale.
  char* end = std::to_chars(out, start + kRealTextCapacity, value, std::chars_format::general,
                            digits)
                  .ptr;
  // Widen a two-digit exponent ("e+07") to three digits ("e+007").
  if (end - out >= 4 && end[-4] == 'e') {
    end[0] = end[-1];
    end[-1] = end[-2];
    end[-2] = '0';
    ++end;
  }
  return static_cast<std::size_t>(end - start);
}

}  // namespace tarvel

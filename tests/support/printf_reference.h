// What every number formatter of the output must give, the plain way:
// printf's "%.*g" with the sign blank, the exponent widened to three digits
// and every NaN written "nan". Free of any test framework, for the unit tests
// and the exhaustive check alike.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

namespace tarvel::reference {

inline std::string printf_general(double value, int digits) {
  if (std::isnan(value)) return " nan";
  char text[64];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  std::string printed = text;
  const std::size_t e = printed.find('e');
  if (e != std::string::npos && printed.size() - e == 4) {
    printed = printed.substr(0, e + 2) + "0" + printed.substr(e + 2);
  }
  return (printed[0] == '-' ? "" : " ") + printed;
}

}  // namespace tarvel::reference

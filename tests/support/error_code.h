// The code of the tarvel::Error a call throws, or 0 when it throws none.
#pragma once

#include <functional>

#include "tarvel/tarvel.h"

namespace tarvel::testing {

inline int error_code(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.code();
  }
  return 0;
}

}  // namespace tarvel::testing

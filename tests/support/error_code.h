// The tarvel::Error a call throws, or its code: 0 when it throws none.
#pragma once

#include <functional>
#include <optional>

#include "tarvel/tarvel.h"

namespace tarvel::testing {

inline std::optional<Error> error_of(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& error) {
    return error;
  }
  return std::nullopt;
}

inline int error_code(const std::function<void()>& call) {
  try {
    call();
  } catch (const Error& error) {
    return error.code();
  }
  return 0;
}

}  // namespace tarvel::testing

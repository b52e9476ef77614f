// How the library's entry points fail: one Error per failure, with the
// tool's exit status and message.
#pragma once

#include <new>
#include <string>
#include <string_view>

#include "tarvel/tarvel.h"

namespace tarvel::library {

// Throws the Error of `code`: its message, then what failed.
[[noreturn]] void fail(int code, std::string_view what_failed);

// Runs `call`, turning the standard library's std::bad_alloc into Error 4.
template <typename Call>
auto with_errors(Call&& call) -> decltype(call()) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    fail(4, "no memory for the working arrays");
  }
}

}  // namespace tarvel::library

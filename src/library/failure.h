// How the library's entry points fail: one Error per failure, with the
// tool's exit status and message.
#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tarvel/tarvel.h"

namespace tarvel::library {

// Throws the Error of `code`: its message, then what failed.
[[noreturn]] void fail(int code, std::string_view what_failed);

// Error 9, for a call whose stop was requested.
[[noreturn]] inline void fail_stopped() {
  fail(9, "the call was stopped before it ended");
}

// Runs `call`, turning the standard library's failures to allocate (no
// memory, or a size past what a vector can hold) into Error 4.
template <typename Call>
auto with_errors(Call&& call) -> decltype(call()) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    fail(4, "no memory for the working arrays");
  } catch (const std::length_error&) {
    fail(4, "more samples than memory can hold");
  }
}

}  // namespace tarvel::library

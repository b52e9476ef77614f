// How the library's entry points fail: one Error per failure, with the
// tool's exit status and message.
#pragma once

#include <filesystem>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "runtime/runtime_error.h"
#include "tarvel/tarvel.h"

namespace tarvel::library {

// The failure of one of the tool's run-time errors that the library's calls
// meet: 1, 2, 3, 4, 9 and 17, which the two enumerations share.
inline Failure failure_of(RuntimeErrorCode code) {
  return static_cast<Failure>(code);
}

// Throws the Error of `failure`: its message, then what failed.
[[noreturn]] void fail(Failure failure, std::string_view what_failed);

// The same for a failure on the file `path`, with the system's reason where
// it gave one.
[[noreturn]] void fail_on_file(Failure failure, std::string_view what_failed,
                               const std::filesystem::path& path, std::error_code reason = {});

// For a call whose stop was requested.
[[noreturn]] inline void fail_stopped() {
  fail(Failure::interrupted, "the call was stopped before it ended");
}

// Runs `call`, turning the standard library's failures to allocate (no
// memory, or a size past what a vector can hold) into Error 4.
template <typename Call>
auto with_errors(Call&& call) -> decltype(call()) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    fail(Failure::out_of_memory, "no memory for the working arrays");
  } catch (const std::length_error&) {
    fail(Failure::out_of_memory, "more samples than memory can hold");
  }
}

}  // namespace tarvel::library

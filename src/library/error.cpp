#include "library/failure.h"
#include "runtime/runtime_error.h"

namespace tarvel {

Error::Error(int code, const std::string& what) : std::runtime_error(what), code_(code) {}

namespace library {

void fail(int code, std::string_view what_failed) {
  std::string text;
  if (const char* message = runtime_error_message(code); message != nullptr) text = message;
  text += ": ";
  text += what_failed;
  throw Error(code, text);
}

}  // namespace library
}  // namespace tarvel

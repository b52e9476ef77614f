#include "library/failure.h"
#include "runtime/runtime_error.h"

namespace tarvel {

Error::Error(Failure failure, const std::string& what, std::error_code reason,
             std::filesystem::path path)
    : std::runtime_error(what), failure_(failure), reason_(reason), path_(std::move(path)) {}

namespace library {
namespace {

std::string message_of(Failure failure, std::string_view what_failed) {
  std::string text;
  if (const char* message = runtime_error_message(static_cast<int>(failure)); message != nullptr) {
    text = message;
  }
  text += ": ";
  text += what_failed;
  return text;
}

}  // namespace

void fail(Failure failure, std::string_view what_failed) {
  throw Error(failure, message_of(failure, what_failed));
}

void fail_on_file(Failure failure, std::string_view what_failed, const std::filesystem::path& path,
                  std::error_code reason) {
  throw Error(failure, message_of(failure, what_failed), reason, path);
}

}  // namespace library
}  // namespace tarvel

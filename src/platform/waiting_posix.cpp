#include "platform/waiting.h"

namespace tarvel::platform {

void wait_while_equal(const std::atomic<std::int64_t>& value, std::int64_t old) {
  value.wait(old, std::memory_order_acquire);
}

void wait_while_equal(const std::atomic<bool>& value, bool old) {
  value.wait(old, std::memory_order_acquire);
}

void wake_all(std::atomic<std::int64_t>& value) {
  value.notify_all();
}

void wake_all(std::atomic<bool>& value) {
  value.notify_all();
}

}  // namespace tarvel::platform

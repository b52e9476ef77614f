#include <windows.h>

#include "platform/waiting.h"

namespace tarvel::platform {
namespace {

// A lock-free std::atomic<T> is laid out as a plain T, which is what
// WaitOnAddress compares.
template <typename T>
void wait_on_address(const std::atomic<T>& value, T old) {
  static_assert(std::atomic<T>::is_always_lock_free && sizeof(std::atomic<T>) == sizeof(T));
  if (value.load(std::memory_order_acquire) != old) return;
  ::WaitOnAddress(const_cast<std::atomic<T>*>(&value), &old, sizeof old, INFINITE);
}

}  // namespace

void wait_while_equal(const std::atomic<std::int64_t>& value, std::int64_t old) {
  wait_on_address(value, old);
}

void wait_while_equal(const std::atomic<bool>& value, bool old) {
  wait_on_address(value, old);
}

void wake_all(std::atomic<std::int64_t>& value) {
  ::WakeByAddressAll(&value);
}

void wake_all(std::atomic<bool>& value) {
  ::WakeByAddressAll(&value);
}

}  // namespace tarvel::platform

// Waiting for another thread to change a value, and waking the waiters.
// The standard library's atomic waits are futexes on Linux, but elsewhere a
// pool of condition variables that lost wake-ups in practice (two threads of
// the output stage both asleep for good under MinGW-w64's libstdc++), so the
// waits go through the system's own address-based waiting.
#pragma once

#include <atomic>
#include <cstdint>

namespace tarvel::platform {

// Returns once `value` no longer holds `old` (it may return early, and then
// the caller looks again). Never fails, allocates nothing.
void wait_while_equal(const std::atomic<std::int64_t>& value, std::int64_t old);
void wait_while_equal(const std::atomic<bool>& value, bool old);

// Wakes every thread waiting on `value`; call it after each store.
void wake_all(std::atomic<std::int64_t>& value);
void wake_all(std::atomic<bool>& value);

}  // namespace tarvel::platform

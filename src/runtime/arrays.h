// The run's arrays: 1-based, zero-filled when allocated, never resized.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "runtime/runtime_error.h"

namespace tarvel {

// The largest count the run's arrays and the command's S and K take: they
// are 32-bit, and a larger count is refused rather than wrapped.
inline constexpr std::int64_t kMaxCount = 2147483647;

namespace detail {
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// Zero-filled storage for `count` elements of `size` bytes, or the error:
// 1 when an upper bound is below 1, 4 when a bound exceeds the 32-bit range,
// when the byte size is not representable or when no storage can be had.
RuntimeErrorCode allocate_zeroed(std::int64_t rows, std::int64_t columns, std::size_t size,
                                 void** storage);
}  // namespace detail

// A one-dimensional array with indices 1..size().
template <typename T>
class Array1 {
 public:
  // Allocates `upper` zero elements. Returns 0, 1 (upper < 1) or 4 (no
  // storage, or a byte size that cannot be represented); on failure the array
  // is left as it was.
  RuntimeErrorCode allocate(std::int64_t upper) {
    void* storage = nullptr;
    RuntimeErrorCode code = detail::allocate_zeroed(upper, 1, sizeof(T), &storage);
    if (code != kNoError) return code;
    data_.reset(static_cast<T*>(storage));
    size_ = upper;
    return kNoError;
  }

  T& operator()(std::int64_t i) { return data_.get()[i - 1]; }
  const T& operator()(std::int64_t i) const { return data_.get()[i - 1]; }
  std::int64_t size() const { return size_; }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }

 private:
  std::unique_ptr<T, detail::FreeDeleter> data_;
  std::int64_t size_ = 0;
};

// A two-dimensional array with indices (1..rows(), 1..columns()), stored row
// by row so that the elements of one row (one sample's channels) are adjacent.
template <typename T>
class Array2 {
 public:
  // As Array1::allocate, for `rows` x `columns` elements.
  RuntimeErrorCode allocate(std::int64_t rows, std::int64_t columns) {
    void* storage = nullptr;
    RuntimeErrorCode code = detail::allocate_zeroed(rows, columns, sizeof(T), &storage);
    if (code != kNoError) return code;
    data_.reset(static_cast<T*>(storage));
    rows_ = rows;
    columns_ = columns;
    return kNoError;
  }

  T& operator()(std::int64_t row, std::int64_t column) {
    return data_.get()[(row - 1) * columns_ + (column - 1)];
  }
  const T& operator()(std::int64_t row, std::int64_t column) const {
    return data_.get()[(row - 1) * columns_ + (column - 1)];
  }
  // The `columns()` elements of one row, 0-based.
  T* row(std::int64_t row) { return data_.get() + (row - 1) * columns_; }
  const T* row(std::int64_t row) const { return data_.get() + (row - 1) * columns_; }
  std::int64_t rows() const { return rows_; }
  std::int64_t columns() const { return columns_; }
  // The memory the elements take.
  std::size_t bytes() const { return static_cast<std::size_t>(rows_ * columns_) * sizeof(T); }

 private:
  std::unique_ptr<T, detail::FreeDeleter> data_;
  std::int64_t rows_ = 0;
  std::int64_t columns_ = 0;
};

}  // namespace tarvel

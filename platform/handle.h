#pragma once
// Ownership of one system handle (a serial port's descriptor or HANDLE, a socket): moving hands
// the handle over, destruction and reset() release it. `Close` is a type whose static
// `release(std::intptr_t)` gives the handle back to the system; each platform defines it for its
// handles. -1 is the invalid value on every platform (INVALID_HANDLE_VALUE, INVALID_SOCKET and an
// invalid descriptor all convert to it).
#include <cstdint>
#include <utility>

namespace dz {

template <typename Close>
class UniqueHandle {
 public:
  using Value = std::intptr_t;
  static constexpr Value invalid = -1;

  UniqueHandle() = default;
  explicit UniqueHandle(Value value) : value_(value) {}
  UniqueHandle(UniqueHandle&& other) noexcept : value_(std::exchange(other.value_, invalid)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = std::exchange(other.value_, invalid);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Value get() const { return value_; }
  bool valid() const { return value_ != invalid; }
  // Releases the handle (if any); the object is then empty.
  void reset() {
    if (valid()) Close::release(std::exchange(value_, invalid));
  }

 private:
  Value value_ = invalid;
};

}  // namespace dz

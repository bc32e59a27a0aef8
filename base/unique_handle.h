// A handle with one owner, for the Win32 handles (a file, a find handle, a
// registry key, a WinHTTP or BCrypt handle) of the Windows backend and the
// password layer: closed by Close when the owner goes, moved but never copied,
// so no path closes it twice or leaks it on an exception. No OS header here.
#pragma once

#include <cstdint>
#include <utility>

namespace qmx {

// Close is called with the handle; a null handle and INVALID_HANDLE_VALUE
// ((HANDLE)-1) are both "no handle", as the API returns one or the other.
template <typename T, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(T handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  T get() const { return handle_; }
  explicit operator bool() const { return valid(handle_); }
  // Gives the handle up without closing it, e.g. to check its close's result.
  T release() { return std::exchange(handle_, T{}); }
  // Closes the handle held, unchecked, and takes another.
  void reset(T handle = T{}) {
    if (valid(handle_)) Close(handle_);
    handle_ = handle;
  }

 private:
  static bool valid(T h) { return h && reinterpret_cast<std::uintptr_t>(h) != ~std::uintptr_t{0}; }
  T handle_{};
};

}  // namespace qmx

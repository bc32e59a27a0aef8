// An owning pointer to a COM interface: a copy takes a reference, destruction
// and reset give it back, so no way out of a function leaks a reference or gives
// one back twice. Written here rather than taken from mingw's WRL: the few
// operations below are all the server needs, they work with interfaces whose
// IID mingw's headers do not bind to the type, and there is no hidden Release
// behind taking an address.
#pragma once

#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace qmx::com {

template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Shares p: takes a reference of its own.
  explicit ComPtr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  // Adopts a reference the caller owns already (a new object's first one).
  static ComPtr attach(T* p) noexcept {
    ComPtr owner;
    owner.p_ = p;
    return owner;
  }
  // Hands the reference over, for example into a caller's out parameter.
  [[nodiscard]] T* detach() noexcept { return std::exchange(p_, nullptr); }
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // The address for a call that returns a new reference; what was held is given back first.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace qmx::com

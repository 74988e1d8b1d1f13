// A reference-holding pointer to an interface, for hosts and libraries alike.
//
//   ComPtr<IDispatch> obj;
//   HRESULT hr = CreateInstance("QelStatsLib.QelUnivariate", IID_IDispatch, obj.out());
#pragma once

#include <utility>

#include "qelcom/interfaces.h"

namespace qelcom {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Shares `p` (adds a reference).
  explicit ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
  ComPtr(const ComPtr& other) : p_(other.p_) { if (p_) p_->AddRef(); }
  ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ComPtr& operator=(ComPtr other) noexcept { std::swap(p_, other.p_); return *this; }
  ~ComPtr() { if (p_) p_->Release(); }

  // Takes over a reference the caller already owns.
  static ComPtr Attach(T* p) { ComPtr c; c.p_ = p; return c; }
  T* Detach() { T* p = p_; p_ = nullptr; return p; }
  void Reset() { if (p_) p_->Release(); p_ = nullptr; }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Releases any held reference and hands out the slot for an out-parameter.
  void** out() { Reset(); return reinterpret_cast<void**>(&p_); }
  T** typed_out() { Reset(); return &p_; }

  // This object's interface `U` (identified by `iid`), or empty.
  template <class U>
  ComPtr<U> As(REFIID iid) const {
    ComPtr<U> result;
    if (p_) p_->QueryInterface(iid, result.out());
    return result;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace qelcom

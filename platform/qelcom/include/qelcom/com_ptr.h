// A reference-holding pointer to an interface, for hosts and libraries alike.
//
//   ComPtr<IDispatch> obj;
//   HRESULT hr = CreateInstance("QelStatsLib.QelUnivariate", IID_IDispatch, obj.out());
//   ComPtr<IDispatch> table;
//   outlier->get_ResultSet(table.out());   // the same out() for a typed slot
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
  // The slot of an out-parameter, for a call that stores a reference the
  // caller then owns. It converts to `T**` (an interface pointer of this
  // pointer's own type, as every get_ slot hands out) and to `void**` (the
  // untyped slot of QueryInterface and CreateInstance, which promise that
  // the pointer stored is of the interface asked for by identity). No other
  // conversion is offered: a `U**` slot with U a base or relative of T would
  // let a call store a pointer this one cannot hold.
  class OutSlot {
   public:
    explicit OutSlot(T** slot) : slot_(slot) {}
    operator T**() const { return slot_; }
    operator void**() const { return reinterpret_cast<void**>(slot_); }

   private:
    T** slot_;
  };

  // Releases any held reference and hands out the slot for an out-parameter.
  OutSlot out() { Reset(); return OutSlot(&p_); }
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

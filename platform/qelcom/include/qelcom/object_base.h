// The reference counting and interface lookup that every object of the
// component layer shares.
#pragma once

#include <atomic>

#include "qelcom/interfaces.h"

namespace qelcom {

// Implements IUnknown for an object whose most derived interface is
// `Interface`: one reference on creation, deleted when the last one goes, and
// QueryInterface answering IID_IUnknown and whatever Answers() accepts.
template <class Interface>
class ObjectBase : public Interface {
 public:
  ObjectBase() = default;
  ObjectBase(const ObjectBase&) = delete;
  ObjectBase& operator=(const ObjectBase&) = delete;

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (iid == IID_IUnknown || Answers(iid)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ObjectBase() = default;
  // The interface identities, beside IID_IUnknown, that this object hands out as `Interface`.
  virtual bool Answers(REFIID iid) = 0;

 private:
  std::atomic<ULONG> refs_{1};
};

}  // namespace qelcom

// IDispatch for the objects of every component, driven by one table of
// members per class: the same code checks the owning thread, looks names up,
// picks the member a dispatch id and call kind mean, counts the arguments,
// puts them back in their natural order and turns a raised error into the
// thread's error info and DISP_E_EXCEPTION.
//
//   class Counter final : public qelcom::DispatchObject<qelcom::IDispatch> {
//     std::span<const qelcom::Member> Members() const override {
//       static const qelcom::Member members[] = {
//           {"Count", 1, qelcom::INVOKE_PROPERTYGET, qelcom::VT_I4, &ReadCount}};
//       return members;
//     }
//     ...
//   };
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <thread>

#include "qelcom/interfaces.h"
#include "qelcom/object_base.h"

namespace qelcom {

struct Member;

// Calls `member` on `self` with `args` in their natural order, already
// counted against the member. It may return a failing HRESULT (after setting
// the thread's error info, for an error to report as an exception of the
// call) or throw; Invoke turns either into its answer.
using MemberCall = HRESULT (*)(IDispatch* self, const Member& member, std::span<const Variant> args,
                               Variant* result);

// One member of an automation interface as a call by dispatch and the type
// information see it. A property with a getter and a setter is two members
// with the same name and dispatch id.
struct Member {
  const char* name = nullptr;
  DISPID dispid = 0;
  InvokeKind kind = INVOKE_PROPERTYGET;
  VarType type = VT_EMPTY;  // a get's or method's result, a put's value
  MemberCall call = nullptr;
  // Arguments a get or a method takes by dispatch; a put takes its value alone.
  std::int16_t min_args = 0;
  std::int16_t max_args = 0;
  // Index in the interface's table of slots (7 = its first own member); 0 for
  // members reached by dispatch only.
  std::size_t slot = 0;
  const char* help = nullptr;  // nullptr when the member has none
  const char* const* param_names = nullptr;  // max_args names, or nullptr
  const VarType* param_types = nullptr;      // max_args types, or nullptr
  // Free for `call`: what a generated member reads, such as a row of a table of results.
  const void* data = nullptr;
};

// Dispatch ids of `names`: names[0] is a member name, compared without regard
// to the case of ASCII letters whatever the locale; further names would be
// argument names, which no member takes by name (DISP_E_UNKNOWNNAME, with
// DISPID_UNKNOWN in their place).
HRESULT LookUpNames(std::span<const Member> members, const char* const* names, std::uint32_t count, DISPID* ids);

// The member `id` means for a call of kind `flags`: a put finds the let and
// falls back on the set (an object assigned without Set); a get or method
// call finds a get or a method. nullptr when there is none.
const Member* FindMember(std::span<const Member> members, DISPID id, std::uint16_t flags);

// Invoke over a table, for an object already known to be on its own thread.
// Errors that carry no source of their own are reported under `error_source`.
HRESULT InvokeMember(IDispatch* self, std::span<const Member> members, DISPID id, std::uint16_t flags,
                     DispParams* params, Variant* result, ExcepInfo* excep, std::uint32_t* arg_err,
                     std::string_view error_source);

// Inside a catch block: records the exception being handled as the thread's
// error info and returns its HRESULT. qeldata::Error and ComError keep their
// number, source and description; anything else is E_FAIL (E_OUTOFMEMORY for
// std::bad_alloc) under `source`.
HRESULT ReportCurrentException(std::string_view source);

// IUnknown and IDispatch of an object whose members a table describes. The
// object answers only on the thread that created it (the apartment rule);
// any other thread gets RPC_E_WRONG_THREAD. It publishes no type
// information unless a subclass overrides the two type-info calls.
template <class Interface>
class DispatchObject : public ObjectBase<Interface> {
 public:
  HRESULT GetTypeInfoCount(std::uint32_t* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(std::uint32_t, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT GetIDsOfNames(REFIID, const char* const* names, std::uint32_t count, LCID, DISPID* ids) override {
    if (!OnOwnerThread()) return RPC_E_WRONG_THREAD;
    return LookUpNames(Members(), names, count, ids);
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, std::uint16_t flags, DispParams* params, Variant* result,
                 ExcepInfo* excep, std::uint32_t* arg_err) override {
    if (!OnOwnerThread()) return RPC_E_WRONG_THREAD;
    return InvokeMember(static_cast<Interface*>(this), Members(), id, flags, params, result, excep, arg_err,
                        ErrorSource());
  }

 protected:
  DispatchObject() = default;

  // The members, in the order of the interface's slots when it has any.
  virtual std::span<const Member> Members() const = 0;
  // The source named in errors that carry none of their own.
  virtual std::string_view ErrorSource() const = 0;
  // Interfaces beside IID_IUnknown and IID_IDispatch that this object hands out as `Interface`.
  virtual bool AlsoAnswers(REFIID) { return false; }
  bool Answers(REFIID iid) override { return iid == IID_IDispatch || AlsoAnswers(iid); }

  bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

  // Runs `body` as the body of a slot: on the owning thread only, with every
  // error it throws turned into its HRESULT and the thread's error info.
  template <class F>
  HRESULT Guard(F&& body) {
    if (!OnOwnerThread()) return RPC_E_WRONG_THREAD;
    try {
      body();
      return S_OK;
    } catch (...) {
      return ReportCurrentException(ErrorSource());
    }
  }

 private:
  const std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace qelcom

// Members of a dual interface built from its C++ slots, so that one table row
// names a member, its dispatch id and the very virtual function Invoke calls:
//
//   static const qelcom::Member members[] = {
//       qelcom::SlotGet<&IFoo::get_Mean>("Mean", qelcom::VT_R8, 0x68030001),
//       qelcom::SlotLet<&IFoo::put_FieldName>("FieldName", qelcom::VT_BSTR, 0x68030002),
//       qelcom::SlotMethod<&IFoo::Run>("Run", qelcom::VT_BOOL, 0x60030003),
//   };
//
// Slots follow the property style of dual interfaces: `get_X(T* out)`,
// `put_X(T value)`, `putref_X(IDispatch* value)`, `Method(T* result)`, and
// functions of doubles passed by pointer whose last pointer is the result.
// The row records the slot's index, so the type information a host reads and
// the function Invoke calls cannot disagree.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

#include "qelcom/dispatch_object.h"

namespace qelcom {

// The slot index of a virtual member function, read from its pointer-to-member.
// Itanium C++ ABI: a virtual member is encoded as 1 + its byte offset; the ARM
// variant keeps the plain offset and marks virtuals in the adjustment instead.
template <class P>
std::size_t SlotOf(P pmf) {
  static_assert(sizeof(P) == 2 * sizeof(std::uintptr_t));
  std::uintptr_t raw[2];
  std::memcpy(raw, &pmf, sizeof raw);
#if defined(__arm__) || defined(__aarch64__)
  return raw[0] / sizeof(void*);
#else
  return (raw[0] - 1) / sizeof(void*);
#endif
}

namespace detail {

// What a slot's parameter is: an input (values, in-strings, object in) or an out-pointer.
template <class T>
constexpr bool kIsInput = !std::is_pointer_v<T> || std::is_const_v<std::remove_pointer_t<T>> ||
                          std::is_same_v<T, IDispatch*>;

// Converts an argument to a slot's input type. `holder` keeps a converted
// string alive for the call. A 16-bit input is a boolean when `type` says so.
template <class T>
HRESULT SlotArgument(const Variant& arg, VarType type, Variant& holder, T& out) {
  if constexpr (std::is_same_v<T, const char*>) {
    if (HRESULT hr = arg.ChangeType(VT_BSTR, &holder); Failed(hr)) return hr;
    out = holder.bstr();
  } else if constexpr (std::is_same_v<T, IDispatch*>) {
    if (arg.type() == VT_EMPTY) {
      out = nullptr;
      return S_OK;
    }
    if (HRESULT hr = arg.ChangeType(VT_DISPATCH, &holder); Failed(hr)) return hr;
    out = holder.object();
  } else if constexpr (std::is_same_v<T, double>) {
    if (HRESULT hr = arg.ChangeType(VT_R8, &holder); Failed(hr)) return hr;
    out = holder.dbl();
  } else if constexpr (std::is_same_v<T, std::int16_t>) {
    if (HRESULT hr = arg.ChangeType(type == VT_BOOL ? VT_BOOL : VT_I2, &holder); Failed(hr)) return hr;
    out = type == VT_BOOL ? holder.boolean() : holder.int16();
  } else if constexpr (std::is_enum_v<T> || std::is_same_v<T, std::int32_t>) {
    if (HRESULT hr = arg.ChangeType(VT_I4, &holder); Failed(hr)) return hr;
    out = static_cast<T>(holder.int32());
  } else {
    static_assert(sizeof(T) == 0, "unsupported input type");
  }
  return S_OK;
}

// Wraps a slot's out-value as the call's result (taking ownership of strings and objects).
template <class U>
Variant SlotResult(U& value, VarType type) {
  if constexpr (std::is_same_v<U, double>) {
    return Variant::Double(value);
  } else if constexpr (std::is_same_v<U, BSTR>) {
    BSTR s = value;
    value = nullptr;
    return Variant::AttachString(s);
  } else if constexpr (std::is_same_v<U, std::int16_t>) {
    return type == VT_BOOL ? Variant::Boolean(value != 0) : Variant::Int16(value);
  } else if constexpr (std::is_same_v<U, IDispatch*>) {
    IDispatch* p = value;
    value = nullptr;
    return Variant::AttachObject(p);
  } else if constexpr (std::is_same_v<U, Variant>) {
    return std::move(value);
  } else {
    static_assert(sizeof(U) == 0, "unsupported result type");
  }
}

template <auto Pmf>
struct SlotCall;

template <class I, class... A, HRESULT (I::*Pmf)(A...)>
struct SlotCall<Pmf> {
  static constexpr int kArity = sizeof...(A);
  static constexpr bool kTakesValue = kArity == 1 && kIsInput<std::tuple_element_t<0, std::tuple<A...>>>;
  // Arguments a host passes by dispatch: 0 for a get or a method without
  // arguments, 1 for a put, the doubles of a function.
  static constexpr std::int16_t kDispatchArgs = kArity == 1 ? (kTakesValue ? 1 : 0) : kArity - 1;

  static HRESULT Call(IDispatch* self, const Member& member, std::span<const Variant> args, Variant* result) {
    I* object = static_cast<I*>(self);
    if constexpr (kArity == 1) {
      using T = std::tuple_element_t<0, std::tuple<A...>>;
      if constexpr (kTakesValue) {  // let / set: args[0] is the value
        Variant holder;
        T value{};
        if (HRESULT hr = SlotArgument<T>(args[0], member.type, holder, value); Failed(hr)) return hr;
        return (object->*Pmf)(value);
      } else {  // get / method without arguments
        using U = std::remove_pointer_t<T>;
        U value{};
        HRESULT hr = (object->*Pmf)(&value);
        if (Succeeded(hr) && result) {
          *result = SlotResult(value, member.type);
        } else if constexpr (std::is_same_v<U, BSTR>) {
          SysFreeString(value);
        } else if constexpr (std::is_same_v<U, IDispatch*>) {
          if (value) value->Release();
        }
        return hr;
      }
    } else {
      // A function of doubles passed by pointer, the last pointer its result.
      static_assert((std::is_same_v<A, double*> && ...), "functions take and return doubles");
      double values[kArity] = {};
      for (int i = 0; i < kArity - 1; ++i) {
        Variant d;
        if (HRESULT hr = args[i].ChangeType(VT_R8, &d); Failed(hr)) return hr;
        values[i] = d.dbl();
      }
      HRESULT hr = CallWith(object, values, std::make_index_sequence<kArity>{});
      if (Succeeded(hr) && result) *result = Variant::Double(values[kArity - 1]);
      return hr;
    }
  }

  template <std::size_t... K>
  static HRESULT CallWith(I* object, double* values, std::index_sequence<K...>) {
    return (object->*Pmf)(&values[K]...);
  }
};

inline constexpr VarType kDoubleParams[] = {VT_R8, VT_R8, VT_R8, VT_R8, VT_R8, VT_R8, VT_R8, VT_R8};

template <auto Pmf>
Member SlotMember(const char* name, InvokeKind kind, VarType type, DISPID dispid, const char* help) {
  using C = SlotCall<Pmf>;
  Member m;
  m.name = name;
  m.dispid = dispid;
  m.kind = kind;
  m.type = type;
  m.call = &C::Call;
  m.min_args = m.max_args = kind == INVOKE_FUNC ? C::kDispatchArgs : 0;
  m.slot = SlotOf(Pmf);
  m.help = help;
  return m;
}

}  // namespace detail

// A property's getter: `get_X(T* value)`.
template <auto Pmf>
Member SlotGet(const char* name, VarType type, DISPID dispid, const char* help = nullptr) {
  static_assert(detail::SlotCall<Pmf>::kArity == 1 && !detail::SlotCall<Pmf>::kTakesValue, "a getter has one out-pointer");
  return detail::SlotMember<Pmf>(name, INVOKE_PROPERTYGET, type, dispid, help);
}

// A property's value setter: `put_X(T value)`.
template <auto Pmf>
Member SlotLet(const char* name, VarType type, DISPID dispid, const char* help = nullptr) {
  static_assert(detail::SlotCall<Pmf>::kTakesValue, "a setter takes its value");
  return detail::SlotMember<Pmf>(name, INVOKE_PROPERTYPUT, type, dispid, help);
}

// A property's object setter: `putref_X(IDispatch* value)`.
template <auto Pmf>
Member SlotSet(const char* name, DISPID dispid, const char* help = nullptr) {
  static_assert(detail::SlotCall<Pmf>::kTakesValue, "a setter takes its value");
  return detail::SlotMember<Pmf>(name, INVOKE_PROPERTYPUTREF, VT_DISPATCH, dispid, help);
}

// A method: `Run(T* result)`, or a function of doubles `F(double* x, ..., double* result)`
// whose arguments carry the names `param_names` (one per argument, or nullptr).
template <auto Pmf>
Member SlotMethod(const char* name, VarType type, DISPID dispid, const char* help = nullptr,
                  const char* const* param_names = nullptr) {
  Member m = detail::SlotMember<Pmf>(name, INVOKE_FUNC, type, dispid, help);
  if (param_names) {
    m.param_names = param_names;
    m.param_types = detail::kDoubleParams;
  }
  return m;
}

}  // namespace qelcom

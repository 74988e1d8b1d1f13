// The component server's machinery: the library's object and lock counts,
// the member tables that drive both the slots and dispatch by name, the
// dual-interface object base and the type information published to hosts.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "qelStatsLib/QelStatsLib.h"
#include "qelcom/error_info.h"
#include "qelcom/interfaces.h"
#include "qelcom/object_base.h"
#include "qeldata/error.h"
#include "qeldata/recordset.h"

namespace qelcom_server {

using namespace qelcom;

// ---- Module state: DllCanUnloadNow answers from these ----
std::atomic<long>& LiveObjects();
std::atomic<long>& ServerLocks();

// ---- Member tables ----

using InvokeFn = HRESULT (*)(IDispatch* self, VarType type, Variant* args, Variant* result);

// One member of a dual interface: what the type library publishes about it
// and how a call by dispatch id reaches its slot.
struct Binding {
  const char* name = nullptr;
  InvokeKind kind = INVOKE_FUNC;
  VarType type = VT_EMPTY;  // a get's or method's result, a put's value
  DISPID dispid = 0;
  const char* help = nullptr;
  std::int16_t param_count = 0;  // arguments a method takes (its result not counted)
  const char* const* param_names = nullptr;
  const VarType* param_types = nullptr;
  InvokeFn invoke = nullptr;
  std::size_t slot = 0;  // 0-based index in the table of slots (7 = first own member)
};

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

// What a slot's parameter is: an input (values, in-strings, object in) or an out-pointer.
template <class T>
constexpr bool kIsInput = !std::is_pointer_v<T> || std::is_const_v<std::remove_pointer_t<T>> ||
                          std::is_same_v<T, IDispatch*>;

// Converts an argument to a slot's input type. `holder` keeps a converted
// string alive for the call.
template <class T>
HRESULT FromVariant(const Variant& arg, VarType type, Variant& holder, T& out) {
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
  } else if constexpr (std::is_same_v<T, std::int16_t>) {  // a boolean or a 16-bit integer
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
Variant ToVariant(U& value, VarType type) {
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
struct Thunk;

template <class I, class... A, HRESULT (I::*Pmf)(A...)>
struct Thunk<Pmf> {
  static constexpr std::int16_t kArity = sizeof...(A);

  static HRESULT Invoke(IDispatch* self, VarType type, Variant* args, Variant* result) {
    I* object = static_cast<I*>(self);
    if constexpr (kArity == 1) {
      using T = std::tuple_element_t<0, std::tuple<A...>>;
      if constexpr (kIsInput<T>) {  // let / set: args[0] is the value
        Variant holder;
        T value{};
        if (HRESULT hr = FromVariant<T>(args[0], type, holder, value); Failed(hr)) return hr;
        return (object->*Pmf)(value);
      } else {  // get / method without arguments
        using U = std::remove_pointer_t<T>;
        U value{};
        HRESULT hr = (object->*Pmf)(&value);
        if (Succeeded(hr) && result) *result = ToVariant(value, type);
        else if constexpr (std::is_same_v<U, BSTR>) SysFreeString(value);
        else if constexpr (std::is_same_v<U, IDispatch*>) { if (value) value->Release(); }
        return hr;
      }
    } else {
      // A function of doubles passed by reference, the last pointer its result.
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

  // Arguments a host passes by dispatch: 0 for a get or method without
  // arguments, 1 for a put, the doubles of a function.
  static constexpr std::int16_t DispatchArgs() {
    if constexpr (kArity == 1) return kIsInput<std::tuple_element_t<0, std::tuple<A...>>> ? 1 : 0;
    return kArity - 1;
  }
};

// One slot of a table: the member's name (checked against the class's own
// member list), its value type and the slot itself.
struct SlotEntry {
  const char* name;
  VarType type;
  InvokeFn invoke;
  std::size_t (*slot)();
  std::int16_t dispatch_args;
};

template <auto Pmf>
SlotEntry Slot(const char* name, VarType type) {
  return SlotEntry{name, type, &Thunk<Pmf>::Invoke, [] { return SlotOf(Pmf); }, Thunk<Pmf>::DispatchArgs()};
}

// ---- Classes ----

struct ClassInfo {
  const char* name;           // "QelUnivariate"
  const char* progid;         // "QelStatsLib.QelUnivariate"
  GUID clsid;
  GUID iid;
  const char* interface_name; // "_QelUnivariate"
  const char* description;    // nullptr when the class carries none
  bool app_object;
  const std::vector<Binding>& (*bindings)();
  IUnknown* (*create)();      // a new object with one reference
};

// The four classes, in the order the type library lists them.
std::span<const ClassInfo> Classes();
const ClassInfo* FindClass(REFCLSID clsid);

// The type library and the type information of one of its types (one reference each).
ITypeLib* NewTypeLib();
ITypeInfo* NewInterfaceTypeInfo(const ClassInfo& info);

// A member as the class itself publishes it (name, kind, dispatch id, help).
struct MemberView {
  std::string_view name;
  InvokeKind kind;
  std::uint32_t dispid;
  std::string_view help;  // empty when none; the text must be NUL-terminated
};

// Builds a class's member table from the member list the class publishes and
// its slot entries. Throws std::logic_error if the two disagree on count or names.
std::vector<Binding> MakeBindings(const std::vector<MemberView>& members, const std::vector<SlotEntry>& slots);

// ---- Objects ----

// Runs `body` as a slot: on the object's own thread only, with every error
// turned into its HRESULT and the thread's error info.
template <class F>
HRESULT Guard(std::thread::id owner, F&& body) {
  if (std::this_thread::get_id() != owner) return RPC_E_WRONG_THREAD;
  try {
    body();
    return S_OK;
  } catch (const qeldata::Error& e) {
    const HRESULT hr = Failed(e.number()) ? e.number() : E_FAIL;
    SetErrorInfo(hr, e.source(), e.description());
    return hr;
  } catch (const ComError& e) {
    SetErrorInfo(e.hr(), e.source(), e.description());
    return e.hr();
  } catch (const std::bad_alloc&) {
    SetErrorInfo(E_OUTOFMEMORY, "QelStatsLib", "Out of memory");
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    SetErrorInfo(E_FAIL, "QelStatsLib", e.what());
    return E_FAIL;
  }
}

template <class T>
T* Require(T* p) {
  if (!p) throw ComError(E_POINTER, "QelStatsLib", "Invalid pointer");
  return p;
}

// IUnknown and IDispatch of a class's object, driven by the class's table.
template <class Interface>
class DualObject : public ObjectBase<Interface> {
 public:
  explicit DualObject(const ClassInfo& info) : info_(info) { ++LiveObjects(); }
  virtual ~DualObject() { --LiveObjects(); }


  HRESULT GetTypeInfoCount(std::uint32_t* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT GetTypeInfo(std::uint32_t index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    *info = NewInterfaceTypeInfo(info_);
    return S_OK;
  }
  HRESULT GetIDsOfNames(REFIID, const char* const* names, std::uint32_t count, LCID, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID, LCID, std::uint16_t flags, DispParams* params, Variant* result,
                 ExcepInfo* excep, std::uint32_t* arg_err) override;

 protected:
  std::thread::id owner() const { return owner_; }
  const ClassInfo& info_;
  bool Answers(REFIID iid) override { return iid == IID_IDispatch || iid == info_.iid; }

 private:
  const std::thread::id owner_ = std::this_thread::get_id();
};

// Shared implementation of the DataSource setter: stores the reference and,
// when ActiveConnection (read by name) holds an object, returns its
// ConnectionString and the object's Source (also read by name).
struct DataSourceReading {
  std::shared_ptr<qeldata::Recordset> recordset;  // the recordset behind the object, when it is ours
  bool connected = false;
  std::string connection_string;
  std::string source;
};
// Throws qeldata::Error: kErrObjectRequired for nullptr, kErrMemberNotFound
// when a member is missing, or the error a member raised.
DataSourceReading ReadDataSource(IDispatch* object, const char* error_source);

bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace qelcom_server

#include "server_inl.h"

namespace qelcom_server {
// Each class's description, defined beside its object.
const ClassInfo& UnivariateClass();
const ClassInfo& OutlierClass();
const ClassInfo& BivariateClass();
const ClassInfo& StatFctnClass();
}  // namespace qelcom_server

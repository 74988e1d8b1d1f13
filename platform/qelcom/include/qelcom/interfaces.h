// The binary interfaces every component and host shares.
//
// Interfaces are abstract classes whose virtual functions form the table of
// slots: the order of declaration IS the binary layout, so members are only
// ever appended, never reordered. Interfaces have no virtual destructor (that
// would add slots); an object goes away through Release().
//
// Slot numbering (0-based, what a host reading the table by hand sees):
// IUnknown 0..2, IDispatch 3..6, then an interface's own members from 7.
#pragma once

#include <cstdint>

#include "qelcom/guid.h"
#include "qelcom/hresult.h"
#include "qelcom/variant.h"

namespace qelcom {

using DISPID = std::int32_t;
using LCID = std::uint32_t;
using ULONG = std::uint32_t;

inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_VALUE = 0;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;

// Invoke flags (may be combined: a late-bound call often asks for a method or a property).
inline constexpr std::uint16_t DISPATCH_METHOD = 1;
inline constexpr std::uint16_t DISPATCH_PROPERTYGET = 2;
inline constexpr std::uint16_t DISPATCH_PROPERTYPUT = 4;
inline constexpr std::uint16_t DISPATCH_PROPERTYPUTREF = 8;

inline constexpr GUID IID_IUnknown = MakeGuid("{00000000-0000-0000-C000-000000000046}");
inline constexpr GUID IID_IClassFactory = MakeGuid("{00000001-0000-0000-C000-000000000046}");
inline constexpr GUID IID_IDispatch = MakeGuid("{00020400-0000-0000-C000-000000000046}");
inline constexpr GUID IID_ITypeInfo = MakeGuid("{00020401-0000-0000-C000-000000000046}");
inline constexpr GUID IID_ITypeLib = MakeGuid("{00020402-0000-0000-C000-000000000046}");

class IUnknown {
 public:
  // Hands out `iid` on this object (one new reference) or fails with
  // E_NOINTERFACE and sets *object to nullptr.
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
 public:
  // A new object answering `iid`. Aggregation is not supported: a non-null
  // `outer` fails with CLASS_E_NOAGGREGATION.
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  // Keeps the library loaded (lock != 0) or releases such a lock.
  virtual HRESULT LockServer(std::int32_t lock) = 0;

 protected:
  ~IClassFactory() = default;
};

// Arguments of Invoke, in the automation order: rgvarg[0] is the LAST
// argument. A property put passes its value as the one named argument
// DISPID_PROPERTYPUT.
struct DispParams {
  Variant* rgvarg = nullptr;
  DISPID* rgdispidNamedArgs = nullptr;
  std::uint32_t cArgs = 0;
  std::uint32_t cNamedArgs = 0;
};

// What Invoke reports when a member raised an error (DISP_E_EXCEPTION).
// The receiver frees the strings (SysFreeString).
struct ExcepInfo {
  std::uint16_t wCode = 0;
  std::uint16_t wReserved = 0;
  BSTR bstrSource = nullptr;
  BSTR bstrDescription = nullptr;
  BSTR bstrHelpFile = nullptr;
  std::uint32_t dwHelpContext = 0;
  void* pvReserved = nullptr;
  void* pfnDeferredFillIn = nullptr;
  HRESULT scode = 0;
};

class ITypeInfo;
class ITypeLib;

class IDispatch : public IUnknown {
 public:
  virtual HRESULT GetTypeInfoCount(std::uint32_t* count) = 0;
  virtual HRESULT GetTypeInfo(std::uint32_t index, LCID lcid, ITypeInfo** info) = 0;
  // Member names to dispatch ids, names compared without regard to case.
  // An unknown name gives DISP_E_UNKNOWNNAME and DISPID_UNKNOWN in its place.
  virtual HRESULT GetIDsOfNames(REFIID iid, const char* const* names, std::uint32_t count, LCID lcid,
                                DISPID* ids) = 0;
  // Calls the member `id` as `flags` asks. A member that raises returns
  // DISP_E_EXCEPTION with the error in *excep (when given) and in the
  // thread's error info.
  virtual HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, std::uint16_t flags, DispParams* params,
                         Variant* result, ExcepInfo* excep, std::uint32_t* arg_err) = 0;

 protected:
  ~IDispatch() = default;
};

// ---- Type information: what a host lists about an interface ----

enum TypeKind : std::int32_t { TKIND_ENUM = 0, TKIND_INTERFACE = 3, TKIND_DISPATCH = 4, TKIND_COCLASS = 5 };
enum InvokeKind : std::int32_t {
  INVOKE_FUNC = 1,
  INVOKE_PROPERTYGET = 2,
  INVOKE_PROPERTYPUT = 4,
  INVOKE_PROPERTYPUTREF = 8,
};

struct TypeAttr {
  GUID guid;
  TypeKind typekind = TKIND_DISPATCH;
  std::uint16_t cFuncs = 0;  // members (interfaces)
  std::uint16_t cVars = 0;   // values (enumerations)
  std::uint16_t cbSizeVft = 0;  // bytes of the slot table, standard slots included
  std::uint16_t wMajorVerNum = 0;
  std::uint16_t wMinorVerNum = 0;
  std::uint16_t wTypeFlags = 0;
};
inline constexpr std::uint16_t TYPEFLAG_FHIDDEN = 0x10;
inline constexpr std::uint16_t TYPEFLAG_FDUAL = 0x40;
inline constexpr std::uint16_t TYPEFLAG_FNONEXTENSIBLE = 0x80;
inline constexpr std::uint16_t TYPEFLAG_FOLEAUTOMATION = 0x100;
inline constexpr std::uint16_t TYPEFLAG_FAPPOBJECT = 0x01;
inline constexpr std::uint16_t TYPEFLAG_FCANCREATE = 0x02;

// One member. Strings point into the library and live as long as the type info.
struct FuncDesc {
  DISPID memid = 0;
  InvokeKind invkind = INVOKE_FUNC;
  std::int16_t oVft = 0;  // byte offset of the member's slot in the table
  std::int16_t cParams = 0;
  VarType vtReturn = VT_EMPTY;  // result of a get or method; value type of a put
  const char* name = nullptr;
  const char* const* paramNames = nullptr;
  const VarType* paramTypes = nullptr;
  const char* helpString = nullptr;  // nullptr when the member has none
};

// One value of an enumeration.
struct VarDesc {
  const char* name = nullptr;
  std::int32_t value = 0;
};

class ITypeInfo : public IUnknown {
 public:
  virtual HRESULT GetTypeAttr(TypeAttr* attr) = 0;
  virtual HRESULT GetFuncDesc(std::uint32_t index, FuncDesc* desc) = 0;
  virtual HRESULT GetVarDesc(std::uint32_t index, VarDesc* desc) = 0;
  // Name and help string of the type (memid DISPID_UNKNOWN) or of a member.
  virtual HRESULT GetDocumentation(DISPID memid, BSTR* name, BSTR* doc) = 0;
  virtual HRESULT GetContainingTypeLib(ITypeLib** lib, std::uint32_t* index) = 0;

 protected:
  ~ITypeInfo() = default;
};

struct TLibAttr {
  GUID guid;
  LCID lcid = 0;
  std::uint16_t wMajorVerNum = 0;
  std::uint16_t wMinorVerNum = 0;
};

class ITypeLib : public IUnknown {
 public:
  virtual std::uint32_t GetTypeInfoCount() = 0;
  virtual HRESULT GetTypeInfo(std::uint32_t index, ITypeInfo** info) = 0;
  virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) = 0;
  virtual HRESULT GetLibAttr(TLibAttr* attr) = 0;
  // Name and help string of the library (index -1) or of one of its types.
  virtual HRESULT GetDocumentation(std::int32_t index, BSTR* name, BSTR* doc) = 0;

 protected:
  ~ITypeLib() = default;
};

}  // namespace qelcom

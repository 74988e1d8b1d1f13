// Strings and variants as they cross the component boundary.
//
// A BSTR is a UTF-8, NUL-terminated string owned by whoever received it last;
// it is allocated and freed only through SysAllocString / SysFreeString so that
// a host and a library never free each other's memory with different heaps.
// A Variant is a 16-byte tagged value with the automation types the library
// uses; it owns its string and holds one reference to its object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "qelcom/hresult.h"

namespace qelcom {

class IUnknown;
class IDispatch;

using BSTR = char*;
using VARIANT_BOOL = std::int16_t;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// A copy of `text` in component memory; nullptr only when memory runs out.
BSTR SysAllocString(std::string_view text);
// Frees a string from SysAllocString; nullptr is allowed.
void SysFreeString(BSTR text);

// Owns a BSTR received from a call: `Bstr name; obj->get_FieldName(name.out());`
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::string_view text) : text_(SysAllocString(text)) {}
  Bstr(const Bstr& other) : text_(other.text_ ? SysAllocString(other.text_) : nullptr) {}
  Bstr(Bstr&& other) noexcept : text_(other.text_) { other.text_ = nullptr; }
  Bstr& operator=(Bstr other) noexcept { std::swap(text_, other.text_); return *this; }
  ~Bstr() { SysFreeString(text_); }

  // Frees any held string and hands out the slot for a callee to fill.
  BSTR* out() { SysFreeString(text_); text_ = nullptr; return &text_; }
  const char* c_str() const { return text_ ? text_ : ""; }
  std::string str() const { return c_str(); }
  BSTR Detach() { BSTR t = text_; text_ = nullptr; return t; }

 private:
  BSTR text_ = nullptr;
};

enum VarType : std::uint16_t {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_VOID = 24,
  VT_HRESULT = 25,
};

// Name of a variant type for messages ("Double", "String", "Object").
const char* VarTypeName(VarType type);

class Variant {
 public:
  Variant() noexcept { u_.r8 = 0; }
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept;
  ~Variant() { Clear(); }

  static Variant Null();
  static Variant Int16(std::int16_t value);
  static Variant Int32(std::int32_t value);
  static Variant Double(double value);
  static Variant Boolean(bool value);  // stored as VARIANT_TRUE (-1) or VARIANT_FALSE
  static Variant Date(double serial);  // days since 1899-12-30
  static Variant String(std::string_view text);
  static Variant AttachString(BSTR text);  // takes ownership
  static Variant Object(IDispatch* object);  // adds a reference; nullptr is the empty object
  static Variant AttachObject(IDispatch* object);  // takes over the caller's reference
  static Variant Error(HRESULT code);

  VarType type() const { return static_cast<VarType>(vt_); }
  bool IsEmpty() const { return vt_ == VT_EMPTY; }
  bool IsNull() const { return vt_ == VT_NULL; }
  // An object variant holding no object (the automation "Nothing").
  bool IsNothing() const { return vt_ == VT_DISPATCH && u_.dispatch == nullptr; }

  // Raw payloads; valid only for the matching type().
  std::int16_t int16() const { return u_.i2; }
  std::int32_t int32() const { return u_.i4; }
  double dbl() const { return u_.r8; }
  VARIANT_BOOL boolean() const { return u_.boolean; }
  const char* bstr() const { return u_.text ? u_.text : ""; }
  IDispatch* object() const { return u_.dispatch; }  // borrowed

  // The value converted as automation converts it, into `*out`:
  // numbers and booleans between each other (true = -1, overflow fails with
  // DISP_E_OVERFLOW), numbers to their 15-digit text form, texts that read as
  // numbers or as "True"/"False" back, empty as 0 or "". Everything else fails
  // with DISP_E_TYPEMISMATCH (null to anything but null, objects to values).
  HRESULT ChangeType(VarType to, Variant* out) const;

  // Conveniences over ChangeType that throw std::runtime_error on failure.
  double AsDouble() const;
  std::string AsString() const;
  bool AsBool() const;

  void Clear() noexcept;

 private:
  union Payload;
  // A variant of type `type` whose payload `member` holds `value`.
  template <class T>
  static Variant Holding(VarType type, T Payload::*member, T value) noexcept;

  std::uint16_t vt_ = VT_EMPTY;
  std::uint16_t reserved_[3] = {};
  union Payload {
    std::int16_t i2;
    std::int32_t i4;
    double r8;
    VARIANT_BOOL boolean;
    BSTR text;
    IUnknown* unknown;
    IDispatch* dispatch;
    HRESULT scode;
  } u_;
};
static_assert(sizeof(Variant) == 16, "Variant is part of the binary interface");

}  // namespace qelcom

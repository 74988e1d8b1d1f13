#include "qelcom/variant.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "qelcom/interfaces.h"
#include "names.h"
#include "qeldata/value.h"

namespace qelcom {

BSTR SysAllocString(std::string_view text) {
  char* p = static_cast<char*>(std::malloc(text.size() + 1));
  if (!p) return nullptr;
  if (!text.empty()) std::memcpy(p, text.data(), text.size());
  p[text.size()] = '\0';
  return p;
}

void SysFreeString(BSTR text) { std::free(text); }

const char* VarTypeName(VarType type) {
  switch (type) {
    case VT_EMPTY: return "Empty";
    case VT_NULL: return "Null";
    case VT_I2: return "Integer";
    case VT_I4: return "Long";
    case VT_R8: return "Double";
    case VT_DATE: return "Date";
    case VT_BSTR: return "String";
    case VT_DISPATCH: return "Object";
    case VT_ERROR: return "Error";
    case VT_BOOL: return "Boolean";
    case VT_VARIANT: return "Variant";
    case VT_UNKNOWN: return "Unknown";
    case VT_VOID: return "Void";
    case VT_HRESULT: return "HRESULT";
  }
  return "?";
}

Variant::Variant(const Variant& other) : vt_(other.vt_) {
  u_ = other.u_;
  if (vt_ == VT_BSTR) {
    u_.text = other.u_.text ? SysAllocString(other.u_.text) : nullptr;
  } else if ((vt_ == VT_DISPATCH || vt_ == VT_UNKNOWN) && u_.unknown) {
    u_.unknown->AddRef();
  }
}

Variant::Variant(Variant&& other) noexcept : vt_(other.vt_) {
  u_ = other.u_;
  other.vt_ = VT_EMPTY;
  other.u_.r8 = 0;
}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    Variant copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& other) noexcept {
  if (this != &other) {
    Clear();
    vt_ = other.vt_;
    u_ = other.u_;
    other.vt_ = VT_EMPTY;
    other.u_.r8 = 0;
  }
  return *this;
}

void Variant::Clear() noexcept {
  if (vt_ == VT_BSTR) {
    SysFreeString(u_.text);
  } else if ((vt_ == VT_DISPATCH || vt_ == VT_UNKNOWN) && u_.unknown) {
    u_.unknown->Release();
  }
  vt_ = VT_EMPTY;
  u_.r8 = 0;
}

template <class T>
Variant Variant::Holding(VarType type, T Payload::*member, T value) noexcept {
  Variant v;
  v.vt_ = type;
  v.u_.*member = value;
  return v;
}

Variant Variant::Null() { return Holding(VT_NULL, &Payload::r8, 0.0); }
Variant Variant::Int16(std::int16_t value) { return Holding(VT_I2, &Payload::i2, value); }
Variant Variant::Int32(std::int32_t value) { return Holding(VT_I4, &Payload::i4, value); }
Variant Variant::Double(double value) { return Holding(VT_R8, &Payload::r8, value); }
Variant Variant::Boolean(bool value) {
  return Holding<VARIANT_BOOL>(VT_BOOL, &Payload::boolean, value ? VARIANT_TRUE : VARIANT_FALSE);
}
Variant Variant::Date(double serial) { return Holding(VT_DATE, &Payload::r8, serial); }
Variant Variant::String(std::string_view text) { return AttachString(SysAllocString(text)); }
Variant Variant::AttachString(BSTR text) { return Holding(VT_BSTR, &Payload::text, text); }
Variant Variant::Object(IDispatch* object) {
  if (object) object->AddRef();
  return AttachObject(object);
}
Variant Variant::AttachObject(IDispatch* object) { return Holding(VT_DISPATCH, &Payload::dispatch, object); }
Variant Variant::Error(HRESULT code) { return Holding(VT_ERROR, &Payload::scode, code); }

namespace {

using detail::EqualsNoCase;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Automation rounds to integers half to even.
HRESULT ToInteger(double x, double lo, double hi, double* out) {
  if (std::isnan(x)) return DISP_E_OVERFLOW;
  const double r = std::nearbyint(x);  // default rounding mode: half to even
  if (r < lo || r > hi) return DISP_E_OVERFLOW;
  *out = r;
  return S_OK;
}

}  // namespace

HRESULT Variant::ChangeType(VarType to, Variant* out) const {
  if (!out) return E_POINTER;
  const VarType from = type();
  if (to == from || to == VT_VARIANT) {
    *out = *this;
    return S_OK;
  }
  if (from == VT_NULL || from == VT_ERROR) return DISP_E_TYPEMISMATCH;

  if (to == VT_DISPATCH || to == VT_UNKNOWN) {
    if (from != VT_DISPATCH && from != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
    if (!u_.unknown) {
      Variant v;
      v.vt_ = to;
      *out = std::move(v);
      return S_OK;
    }
    void* p = nullptr;
    const HRESULT hr = u_.unknown->QueryInterface(to == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &p);
    if (Failed(hr)) return DISP_E_TYPEMISMATCH;
    *out = Holding(to, &Payload::unknown, static_cast<IUnknown*>(p));
    return S_OK;
  }
  if (from == VT_DISPATCH || from == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;

  // The value as a double first (numbers, booleans, dates, empty, numeric texts).
  double x = 0;
  if (from == VT_EMPTY) {
    x = 0;
  } else if (from == VT_I2) {
    x = u_.i2;
  } else if (from == VT_I4) {
    x = u_.i4;
  } else if (from == VT_R8 || from == VT_DATE) {
    x = u_.r8;
  } else if (from == VT_BOOL) {
    x = u_.boolean ? -1 : 0;
  } else if (from == VT_BSTR) {
    const std::string_view text = Trim(bstr());
    if (to == VT_BSTR) {
      *out = *this;
      return S_OK;
    }
    if (EqualsNoCase(text, "True")) {
      x = -1;
    } else if (EqualsNoCase(text, "False")) {
      x = 0;
    } else {
      std::optional<double> parsed = qeldata::ParseNumber(text);
      if (!parsed) return DISP_E_TYPEMISMATCH;
      x = *parsed;
    }
  } else {
    return DISP_E_TYPEMISMATCH;
  }

  switch (to) {
    case VT_I2:
    case VT_I4: {
      const bool i2 = to == VT_I2;
      double r;
      if (HRESULT hr = ToInteger(x, i2 ? -32768.0 : -2147483648.0, i2 ? 32767.0 : 2147483647.0, &r); Failed(hr))
        return hr;
      *out = i2 ? Int16(static_cast<std::int16_t>(r)) : Int32(static_cast<std::int32_t>(r));
      return S_OK;
    }
    case VT_R8:
      *out = Double(x);
      return S_OK;
    case VT_DATE:
      *out = Date(x);
      return S_OK;
    case VT_BOOL:
      if (std::isnan(x)) return DISP_E_TYPEMISMATCH;
      *out = Boolean(x != 0);
      return S_OK;
    case VT_BSTR:
      if (from == VT_EMPTY) {
        *out = String("");
      } else if (from == VT_BOOL) {
        *out = String(u_.boolean ? "True" : "False");
      } else if (from == VT_I2 || from == VT_I4) {
        *out = String(std::to_string(from == VT_I2 ? u_.i2 : u_.i4));
      } else {
        *out = String(qeldata::NumberText(x));
      }
      return S_OK;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

namespace {
// `v` changed to `to`; a conversion that fails throws.
Variant Converted(const Variant& v, VarType to) {
  Variant out;
  if (Failed(v.ChangeType(to, &out)))
    throw std::runtime_error(std::string("Type mismatch: cannot convert ") + VarTypeName(v.type()) + " to " +
                             VarTypeName(to));
  return out;
}
}  // namespace

double Variant::AsDouble() const { return Converted(*this, VT_R8).dbl(); }
std::string Variant::AsString() const { return Converted(*this, VT_BSTR).bstr(); }
bool Variant::AsBool() const { return Converted(*this, VT_BOOL).boolean() != VARIANT_FALSE; }

}  // namespace qelcom

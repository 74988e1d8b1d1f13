#include "qelcom/dispatch_object.h"

#include <exception>
#include <new>
#include <string>
#include <vector>

#include "names.h"
#include "qelcom/error_info.h"
#include "qeldata/error.h"

namespace qelcom {

HRESULT LookUpNames(std::span<const Member> members, const char* const* names, std::uint32_t count, DISPID* ids) {
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  for (std::uint32_t i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (names[0]) {
    for (const Member& m : members) {
      if (detail::EqualsNoCase(names[0], m.name)) {
        ids[0] = m.dispid;
        break;
      }
    }
  }
  return ids[0] == DISPID_UNKNOWN || count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
}

const Member* FindMember(std::span<const Member> members, DISPID id, std::uint16_t flags) {
  const bool put = flags & DISPATCH_PROPERTYPUT;
  const bool putref = flags & DISPATCH_PROPERTYPUTREF;
  const bool get = flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  const Member* fallback = nullptr;
  for (const Member& m : members) {
    if (m.dispid != id) continue;
    if (putref && m.kind == INVOKE_PROPERTYPUTREF) return &m;
    if (put && m.kind == INVOKE_PROPERTYPUT) return &m;
    if (put && m.kind == INVOKE_PROPERTYPUTREF && !fallback) fallback = &m;
    if (get && (m.kind == INVOKE_PROPERTYGET || m.kind == INVOKE_FUNC)) return &m;
  }
  return fallback;
}

HRESULT InvokeMember(IDispatch* self, std::span<const Member> members, DISPID id, std::uint16_t flags,
                     DispParams* params, Variant* result, ExcepInfo* excep, std::uint32_t* arg_err,
                     std::string_view error_source) {
  const Member* member = FindMember(members, id, flags);
  if (!member) return DISP_E_MEMBERNOTFOUND;

  const std::uint32_t given = params ? params->cArgs : 0;
  if (given && !params->rgvarg) return E_INVALIDARG;
  if (member->kind == INVOKE_PROPERTYPUT || member->kind == INVOKE_PROPERTYPUTREF) {
    if (given != 1) return DISP_E_BADPARAMCOUNT;
  } else {
    if (params && params->cNamedArgs) return DISP_E_NONAMEDARGS;
    if (given < static_cast<std::uint32_t>(member->min_args) || given > static_cast<std::uint32_t>(member->max_args))
      return DISP_E_BADPARAMCOUNT;
  }
  // Automation passes arguments last first; members take them in order.
  std::vector<Variant> args;
  args.reserve(given);
  for (std::uint32_t i = given; i-- > 0;) args.push_back(params->rgvarg[i]);

  Variant value;
  ClearErrorInfo();
  HRESULT hr;
  try {
    hr = member->call(self, *member, args, &value);
  } catch (...) {
    hr = ReportCurrentException(error_source);
  }
  if (Succeeded(hr)) {
    if (result) *result = std::move(value);
    return hr;
  }
  if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) {
    if (arg_err) *arg_err = 0;
    return hr;
  }
  // A member that raised: the error travels as an exception of the call.
  if (std::optional<ErrorInfo> info = PeekErrorInfo(); info && info->number == hr) {
    if (excep) {
      *excep = ExcepInfo{};
      excep->scode = hr;
      excep->bstrSource = SysAllocString(info->source);
      excep->bstrDescription = SysAllocString(info->description);
    }
    return DISP_E_EXCEPTION;
  }
  return hr;
}

HRESULT ReportCurrentException(std::string_view source) {
  HRESULT hr = E_FAIL;
  try {
    throw;
  } catch (const qeldata::Error& e) {
    hr = Failed(e.number()) ? e.number() : E_FAIL;
    SetErrorInfo(hr, e.source(), e.description());
  } catch (const ComError& e) {
    hr = e.hr();
    SetErrorInfo(hr, e.source(), e.description());
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
    SetErrorInfo(hr, std::string(source), "Out of memory");
  } catch (const std::exception& e) {
    SetErrorInfo(hr, std::string(source), e.what());
  } catch (...) {
    SetErrorInfo(hr, std::string(source), "Unexpected failure");
  }
  return hr;
}

}  // namespace qelcom

// Template bodies of server.h.
#pragma once

#include <stdexcept>
#include <string>

namespace qelcom_server {

template <class Interface>
HRESULT DualObject<Interface>::GetIDsOfNames(REFIID, const char* const* names, std::uint32_t count, LCID,
                                             DISPID* ids) {
  if (std::this_thread::get_id() != owner_) return RPC_E_WRONG_THREAD;
  if (count == 0) return S_OK;
  if (!names || !ids) return E_POINTER;
  // names[0] is the member; further names would be argument names, which
  // this library does not take by name.
  const std::vector<Binding>& table = info_.bindings();
  HRESULT hr = S_OK;
  for (std::uint32_t i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  for (const Binding& b : table) {
    if (names[0] && EqualsNoCase(names[0], b.name)) {
      ids[0] = b.dispid;
      break;
    }
  }
  if (ids[0] == DISPID_UNKNOWN || count > 1) hr = DISP_E_UNKNOWNNAME;
  return hr;
}

template <class Interface>
HRESULT DualObject<Interface>::Invoke(DISPID id, REFIID, LCID, std::uint16_t flags, DispParams* params,
                                      Variant* result, ExcepInfo* excep, std::uint32_t* arg_err) {
  if (std::this_thread::get_id() != owner_) return RPC_E_WRONG_THREAD;
  const std::vector<Binding>& table = info_.bindings();
  const bool put = flags & DISPATCH_PROPERTYPUT;
  const bool putref = flags & DISPATCH_PROPERTYPUTREF;
  const Binding* found = nullptr;
  const Binding* fallback = nullptr;
  for (const Binding& b : table) {
    if (b.dispid != id) continue;
    if (putref && b.kind == INVOKE_PROPERTYPUTREF) found = &b;
    if (put && b.kind == INVOKE_PROPERTYPUT) found = &b;
    if (put && b.kind == INVOKE_PROPERTYPUTREF) fallback = &b;  // an object assigned without Set
    if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) && (b.kind == INVOKE_PROPERTYGET || b.kind == INVOKE_FUNC))
      found = &b;
    if (found) break;
  }
  if (!found) found = fallback;
  if (!found) return DISP_E_MEMBERNOTFOUND;

  const std::uint32_t given = params ? params->cArgs : 0;
  if (given && !params->rgvarg) return E_INVALIDARG;
  if ((found->kind == INVOKE_PROPERTYPUT || found->kind == INVOKE_PROPERTYPUTREF)) {
    if (given != 1) return DISP_E_BADPARAMCOUNT;
  } else {
    if (params && params->cNamedArgs) return DISP_E_NONAMEDARGS;
    if (given != static_cast<std::uint32_t>(found->param_count)) return DISP_E_BADPARAMCOUNT;
  }
  // Automation passes arguments last first; the slots take them in order.
  std::vector<Variant> args;
  args.reserve(given);
  for (std::uint32_t i = given; i-- > 0;) args.push_back(params->rgvarg[i]);

  Variant value;
  ClearErrorInfo();
  const HRESULT hr = found->invoke(this, found->type, args.data(), &value);
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

}  // namespace qelcom_server

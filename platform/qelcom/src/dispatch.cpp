#include "qelcom/dispatch.h"

#include <algorithm>
#include <string>
#include <vector>

#include "qelcom/error_info.h"

namespace qelcom {

void ClearExcepInfo(ExcepInfo* excep) {
  if (!excep) return;
  SysFreeString(excep->bstrSource);
  SysFreeString(excep->bstrDescription);
  SysFreeString(excep->bstrHelpFile);
  *excep = ExcepInfo{};
}

HRESULT InvokeByName(IDispatch* object, std::string_view name, std::uint16_t flags,
                     std::initializer_list<Variant> args, Variant* result, ExcepInfo* excep) {
  if (!object) {
    SetErrorInfo(CTL_E_OBJECTREQUIRED, "", HresultMessage(CTL_E_OBJECTREQUIRED));
    return CTL_E_OBJECTREQUIRED;
  }
  const std::string name_text(name);
  const char* names[] = {name_text.c_str()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = object->GetIDsOfNames(GUID_NULL, names, 1, 0, &id);
  if (Failed(hr)) return hr;

  // Automation passes arguments last first.
  std::vector<Variant> reversed(args.begin(), args.end());
  std::reverse(reversed.begin(), reversed.end());
  DISPID put_id = DISPID_PROPERTYPUT;
  DispParams params;
  params.rgvarg = reversed.data();
  params.cArgs = static_cast<std::uint32_t>(reversed.size());
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &put_id;
    params.cNamedArgs = 1;
  }
  std::uint32_t arg_err = 0;
  return object->Invoke(id, GUID_NULL, 0, flags, &params, result, excep, &arg_err);
}

namespace {
Variant InvokeOrThrow(IDispatch* object, std::string_view name, std::uint16_t flags,
                      std::initializer_list<Variant> args) {
  Variant result;
  ExcepInfo excep;
  const HRESULT hr = InvokeByName(object, name, flags, args, &result, &excep);
  if (hr == DISP_E_EXCEPTION) {
    const std::string source = excep.bstrSource ? excep.bstrSource : "";
    const std::string description = excep.bstrDescription ? excep.bstrDescription : "";
    const HRESULT code = excep.scode;
    ClearExcepInfo(&excep);
    GetErrorInfo();  // the exception carries it now
    throw ComError(code, source, description);
  }
  ClearExcepInfo(&excep);
  if (Failed(hr)) {
    std::string what = HresultMessage(hr);
    if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND) what += " (" + std::string(name) + ")";
    if (std::optional<ErrorInfo> info = GetErrorInfo(); info && info->number == hr)
      throw ComError(hr, info->source, info->description);
    throw ComError(hr, "", what);
  }
  return result;
}
}  // namespace

Variant GetProperty(IDispatch* object, std::string_view name) {
  return InvokeOrThrow(object, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {});
}

void PutProperty(IDispatch* object, std::string_view name, const Variant& value) {
  InvokeOrThrow(object, name, DISPATCH_PROPERTYPUT, {value});
}

void PutPropertyRef(IDispatch* object, std::string_view name, IDispatch* value) {
  InvokeOrThrow(object, name, DISPATCH_PROPERTYPUTREF, {Variant::Object(value)});
}

Variant CallMethod(IDispatch* object, std::string_view name, std::initializer_list<Variant> args) {
  return InvokeOrThrow(object, name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args);
}

}  // namespace qelcom

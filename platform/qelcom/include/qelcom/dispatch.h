// Late-bound calls by member name, for hosts:
//
//   double mean = qelcom::GetProperty(obj, "Mean").AsDouble();
//   qelcom::PutProperty(obj, "FieldName", qelcom::Variant::String("Salary"));
//   bool ok = qelcom::CallMethod(obj, "Run").AsBool();
//
// Arguments are given in their natural order. Failures throw ComError with
// the callee's number, source and description.
#pragma once

#include <initializer_list>
#include <string_view>

#include "qelcom/interfaces.h"

namespace qelcom {

// Looks `name` up and invokes it with `flags`; `args` in natural order. For a
// put, the last argument is the value. Returns the HRESULT of Invoke
// (DISP_E_EXCEPTION when the member raised; the thread's error info and
// *excep, when given, hold the error).
HRESULT InvokeByName(IDispatch* object, std::string_view name, std::uint16_t flags,
                     std::initializer_list<Variant> args, Variant* result, ExcepInfo* excep = nullptr);

Variant GetProperty(IDispatch* object, std::string_view name);
void PutProperty(IDispatch* object, std::string_view name, const Variant& value);
void PutPropertyRef(IDispatch* object, std::string_view name, IDispatch* value);
Variant CallMethod(IDispatch* object, std::string_view name, std::initializer_list<Variant> args = {});

// Frees the strings of an ExcepInfo and zeroes it.
void ClearExcepInfo(ExcepInfo* excep);

}  // namespace qelcom

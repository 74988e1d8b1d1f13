#include "qelcom/error_info.h"

#include <cstdio>

namespace qelcom {
namespace {
thread_local std::optional<ErrorInfo> t_error_info;
}

void SetErrorInfo(HRESULT number, std::string source, std::string description) {
  t_error_info = ErrorInfo{number, std::move(source), std::move(description)};
}

std::optional<ErrorInfo> GetErrorInfo() {
  std::optional<ErrorInfo> info = std::move(t_error_info);
  t_error_info.reset();
  return info;
}

std::optional<ErrorInfo> PeekErrorInfo() { return t_error_info; }

void ClearErrorInfo() { t_error_info.reset(); }

const char* HresultMessage(HRESULT hr) {
  switch (hr) {
    case S_OK: return "The operation completed successfully.";
    case E_NOTIMPL: return "Not implemented.";
    case E_NOINTERFACE: return "No such interface supported.";
    case E_POINTER: return "Invalid pointer.";
    case E_ABORT: return "Operation aborted.";
    case E_FAIL: return "Unspecified error.";
    case E_UNEXPECTED: return "Catastrophic failure.";
    case E_ACCESSDENIED: return "Access is denied.";
    case E_OUTOFMEMORY: return "Out of memory.";
    case E_INVALIDARG: return "The parameter is incorrect.";
    case CLASS_E_NOAGGREGATION: return "Class does not support aggregation.";
    case CLASS_E_CLASSNOTAVAILABLE: return "Class is not available from this library.";
    case REGDB_E_CLASSNOTREG: return "Class not registered.";
    case REGDB_E_WRITEREGDB: return "Could not write the registry.";
    case CO_E_CLASSSTRING: return "Invalid class string.";
    case CO_E_DLLNOTFOUND: return "The component library could not be loaded.";
    case CO_E_ERRORINDLL: return "The component library is not a component server.";
    case SELFREG_E_CLASS: return "Could not register the classes.";
    case TYPE_E_ELEMENTNOTFOUND: return "Element not found.";
    case DISP_E_UNKNOWNINTERFACE: return "Unknown interface.";
    case DISP_E_MEMBERNOTFOUND: return "Member not found.";
    case DISP_E_PARAMNOTFOUND: return "Parameter not found.";
    case DISP_E_TYPEMISMATCH: return "Type mismatch.";
    case DISP_E_UNKNOWNNAME: return "Unknown name.";
    case DISP_E_NONAMEDARGS: return "No named arguments.";
    case DISP_E_BADVARTYPE: return "Bad variable type.";
    case DISP_E_EXCEPTION: return "Exception occurred.";
    case DISP_E_OVERFLOW: return "Overflow.";
    case DISP_E_BADINDEX: return "Invalid index.";
    case DISP_E_BADPARAMCOUNT: return "Invalid number of parameters.";
    case DISP_E_PARAMNOTOPTIONAL: return "Parameter not optional.";
    case RPC_E_WRONG_THREAD: return "The application called an interface that was marshalled for a different thread.";
    case CTL_E_OBJECTREQUIRED: return "Object required";
    case CTL_E_MEMBERNOTFOUND: return "Object doesn't support this property or method";
    default: return "";
  }
}

HRESULT ThrowIfFailed(HRESULT hr) {
  if (Succeeded(hr)) return hr;
  std::optional<ErrorInfo> info = GetErrorInfo();
  if (info && (info->number == hr || hr == DISP_E_EXCEPTION))
    throw ComError(info->number, info->source, info->description);
  char text[64];
  const char* known = HresultMessage(hr);
  if (!*known) {
    std::snprintf(text, sizeof text, "Error 0x%08X", static_cast<unsigned>(hr));
    known = text;
  }
  throw ComError(hr, "", known);
}

}  // namespace qelcom

// Which fields the analyses read as numbers. Internal to the engine.
#pragma once

#include <string>

#include "qeldata/error.h"
#include "qeldata/recordset.h"

namespace qel::detail {

// The types refused before a field's values are read: the text and date
// types (the long text types pass and fail on their first value that is no
// number), and binary data, whose values only read as text ("0x...").
inline bool IsBinaryType(int type) {
  return type == qeldata::adBinary || type == qeldata::adVarBinary || type == qeldata::adLongVarBinary;
}
inline bool IsNonNumericType(int type) {
  return type == qeldata::adChar || type == qeldata::adDate || type == qeldata::adVarChar ||
         type == qeldata::adVarWChar || type == qeldata::adWChar || IsBinaryType(type);
}

// Throws the runs' "Numeric Data types only" (kErrLibraryInput, `source`)
// when a field of ADO type `type` is of a non-numeric type; a binary field is
// named.
inline void RequireNumericType(int type, const std::string& name, const char* source) {
  if (!IsNonNumericType(type)) return;
  std::string description = "Numeric Data types only";
  if (IsBinaryType(type)) description += ": field '" + name + "' holds binary data";
  throw qeldata::Error(qeldata::kErrLibraryInput, source, description);
}

inline void RequireNumericField(const qeldata::Field& field, const char* source) {
  RequireNumericType(field.Type(), field.Name(), source);
}

}  // namespace qel::detail

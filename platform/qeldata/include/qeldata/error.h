// The one exception type of the data layer and of the analyses built on it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qeldata {

// Error numbers follow the component system's HRESULT convention.
inline constexpr std::int32_t kErrUnexpected = static_cast<std::int32_t>(0x8000FFFF);
inline constexpr std::int32_t kErrInvalidArgument = static_cast<std::int32_t>(0x80070057);
// ADO's own codes for the failures a recordset reports.
inline constexpr std::int32_t kErrItemNotFound = static_cast<std::int32_t>(0x800A0CC1);   // adErrItemNotFound
inline constexpr std::int32_t kErrNoCurrentRecord = static_cast<std::int32_t>(0x800A0BCD);// adErrNoCurrentRecord
inline constexpr std::int32_t kErrObjectClosed = static_cast<std::int32_t>(0x800A0E78);   // adErrObjectClosed
inline constexpr std::int32_t kErrObjectOpen = static_cast<std::int32_t>(0x800A0E79);     // adErrObjectOpen
inline constexpr std::int32_t kErrNotSupported = static_cast<std::int32_t>(0x800A0CB3);   // adErrFeatureNotAvailable
inline constexpr std::int32_t kErrDataConversion = static_cast<std::int32_t>(0x800A0D5D); // type mismatch on a value
inline constexpr std::int32_t kErrProvider = static_cast<std::int32_t>(0x80004005);       // E_FAIL: the provider's own failure
// The platform's "Object required" (an empty object reference where an object is needed).
inline constexpr std::int32_t kErrObjectRequired = static_cast<std::int32_t>(0x800A01A8);
// The platform's "Object doesn't support this property or method" (a member looked up by name is missing).
inline constexpr std::int32_t kErrMemberNotFound = static_cast<std::int32_t>(0x800A01B6);
// The library's input error: the component error base 0x80040000 plus 1000.
inline constexpr std::int32_t kErrLibraryInput = static_cast<std::int32_t>(0x800403E8);

// An error with a number callers can branch on, the component that raised it,
// and a description a person can act on ("Unknown field 'Salry' in BaseBall.csv").
class Error : public std::runtime_error {
 public:
  Error(std::int32_t number, std::string source, const std::string& description)
      : std::runtime_error(description), number_(number), source_(std::move(source)) {}

  std::int32_t number() const noexcept { return number_; }
  const std::string& source() const noexcept { return source_; }
  std::string description() const { return what(); }

 private:
  std::int32_t number_;
  std::string source_;
};

}  // namespace qeldata

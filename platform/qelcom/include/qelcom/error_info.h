// The calling thread's error info: what the last failing call reported
// (number, source, description), as components leave it for their callers.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "qelcom/hresult.h"

namespace qelcom {

struct ErrorInfo {
  HRESULT number = 0;
  std::string source;
  std::string description;
};

// Records the error of the call that is about to fail on this thread.
void SetErrorInfo(HRESULT number, std::string source, std::string description);
// Takes the thread's error info (clearing it), or std::nullopt when there is none.
std::optional<ErrorInfo> GetErrorInfo();
// Reads the thread's error info without clearing it.
std::optional<ErrorInfo> PeekErrorInfo();
void ClearErrorInfo();

// A failed call as an exception, for callers who prefer them: the HRESULT and
// the error info the callee left (or the code's own text when it left none).
class ComError : public std::runtime_error {
 public:
  ComError(HRESULT hr, std::string source, const std::string& description)
      : std::runtime_error(description), hr_(hr), source_(std::move(source)) {}
  HRESULT hr() const noexcept { return hr_; }
  const std::string& source() const noexcept { return source_; }
  std::string description() const { return what(); }

 private:
  HRESULT hr_;
  std::string source_;
};

// Throws ComError for a failed `hr`, taking the thread's error info when its
// number matches `hr` (or hr is DISP_E_EXCEPTION). Returns `hr` otherwise.
HRESULT ThrowIfFailed(HRESULT hr);

}  // namespace qelcom

// Where QelUnivariate, QelOutlier and QelBivariate take their records from:
// the DataSource a host set, or Source opened over ConnectionString.
#pragma once

#include <memory>
#include <string>

#include "qeldata/error.h"
#include "qeldata/recordset.h"
#include "text.h"

namespace qel {

// Stores `value` as a class's DataSource (the caller keeps its own
// reference). A connected recordset also hands over its connection string and
// source, so that Run reopens the same data. An empty pointer is stored, then
// refused with kErrObjectRequired under `error_source`.
inline void SetClassDataSource(std::shared_ptr<qeldata::Recordset> value, const char* error_source,
                               std::shared_ptr<qeldata::Recordset>& data_source, std::string& connection_string,
                               std::string& source) {
  data_source = std::move(value);
  if (!data_source) throw qeldata::Error(qeldata::kErrObjectRequired, error_source, "Object required");
  if (auto connection = data_source->ActiveConnection()) {
    connection_string = connection->ConnectionString();
    source = data_source->Source();
  }
}

// The records a Run reads: a disconnected DataSource as it is; otherwise
// `source` opened over `connection_string` on the server side, forward-only
// and read-only. A blank source or connection string is refused through
// `fail(message)`, which raises the class's own check failure.
template <typename Fail>
std::shared_ptr<qeldata::Recordset> OpenClassInput(const std::shared_ptr<qeldata::Recordset>& data_source,
                                                   const std::string& source, const std::string& connection_string,
                                                   Fail fail) {
  if (data_source && !data_source->ActiveConnection()) return data_source;
  if (text::IsBlank(source)) fail("Source parameter is missing or blank.");
  if (text::IsBlank(connection_string)) fail("Connection String parameter is missing or blank.");
  auto input = std::make_shared<qeldata::Recordset>();
  input->SetCursorLocation(qeldata::adUseServer);
  input->Open(source, connection_string, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
  return input;
}

}  // namespace qel

#include "qelStatsLib/analysis_input.h"

#include "class_input.h"

namespace qel {

void AnalysisInput::SetDataSource(std::shared_ptr<qeldata::Recordset> value) {
  SetClassDataSource(std::move(value), error_source_, data_source_, connection_string_, source_);
}

}  // namespace qel

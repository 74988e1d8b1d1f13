// What the univariate, outlier and bivariate commands print: their settings,
// the analysis's results in the order of its result table, and its result
// table, as text or as one JSON object.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli_common.h"
#include "qelStatsLib/results.h"
#include "qeldata/recordset.h"
#include "reading_options.h"

namespace qelcli {

struct AnalysisAnswer {
  AnalysisAnswer(bool ran_, std::vector<std::string> notes_, std::vector<std::pair<std::string_view, double>> results_,
                 std::shared_ptr<qeldata::Recordset> table_ = nullptr)
      : ran(ran_), notes(std::move(notes_)), results(std::move(results_)), table(std::move(table_)) {}

  bool ran = false;
  // Cells that made a field text (JSON "error").
  std::vector<std::string> notes;
  // The text form's first rows (the settings and Run), in order.
  std::vector<std::pair<std::string, std::string>> heading;
  std::vector<std::pair<std::string_view, double>> results;
  std::optional<bool> categorical;  // after the results, where the analysis has it
  std::shared_ptr<qeldata::Recordset> table;
};

// The results of `record`, one (name, value) row per row of `table`.
template <typename Record, std::size_t N>
std::vector<std::pair<std::string_view, double>> ResultRows(const qel::ResultMember<Record> (&table)[N],
                                                            const Record& record) {
  std::vector<std::pair<std::string_view, double>> rows;
  rows.reserve(N);
  for (const qel::ResultMember<Record>& r : table) rows.emplace_back(r.name, record.*r.member);
  return rows;
}

// Sets what every analysis reads from the command line: the input and the
// weight field, when one is given.
template <typename Analysis>
void SetInput(Analysis& analysis, const InputSpec& input, const Args& args) {
  analysis.SetConnectionString(input.connection_string);
  analysis.SetSource(input.source);
  if (auto weight = args.Get("weight")) analysis.SetWeightField(*weight);
}

// JSON: {"Run", "error" (with notes), the results, "Categorical", "ResultSet",
// "messages"}; text: the heading, the results, Categorical, then the table.
void PrintAnswer(const AnalysisAnswer& answer, bool json, const std::vector<std::string>& messages);

}  // namespace qelcli

#include "analysis_answer.h"

#include <iostream>

#include "rows_groups.h"
#include "run_failure.h"

namespace qelcli {

namespace {

void AddJson(JsonObject& out, const AnalysisAnswer& a, bool result_set) {
  out.Add("Run", a.ran);
  if (!a.ran) out.Add("error", a.reason);
  for (const auto& [name, value] : a.results) out.Add(std::string(name), value);
  for (const auto& [name, value] : a.extra) out.Add(name, value);
  if (a.categorical) out.Add("Categorical", *a.categorical);
  if (!result_set) return;
  if (a.table)
    out.AddRecordset("ResultSet", *a.table);
  else
    out.AddNull("ResultSet");
}

void PrintJson(const std::vector<AnalysisAnswer>& answers, const AnswerLayout& layout, bool all_ran,
               const std::string& first_reason, const std::vector<std::string>& messages) {
  JsonObject out;
  if (!layout.by) {
    AddJson(out, answers.front(), true);
  } else {
    out.Add("Run", all_ran);
    if (!all_ran) out.Add("error", first_reason);
    out.Add("By", *layout.by);
    std::string groups = "[";
    for (const AnalysisAnswer& a : answers) {
      if (a.whole_input) continue;  // no group: said in "error"
      JsonObject g;
      g.AddRaw("key", GroupKeyJson(a.key));
      AddJson(g, a, layout.tables);
      groups += (groups.size() > 1 ? ", " : "") + g.str();
    }
    out.AddRaw("groups", groups + "]");
  }
  out.AddRaw("messages", JsonStrings(messages));
  out.Write(std::cout);
  std::cout << '\n';
}

// CSV: the result tables under one header (the group key first), or one row
// of results per answer when the analysis has no table.
void PrintCsvAnswers(const std::vector<AnalysisAnswer>& answers, const AnswerLayout& layout) {
  Table all;
  if (layout.tables) {
    // Written straight from each result table, whose rows may be millions.
    bool header = false;
    for (const AnalysisAnswer& a : answers) {
      if (!a.table) continue;
      if (!header) {
        if (layout.by) all.columns.push_back(*layout.by);
        const qeldata::Fields fields = a.table->GetFields();
        for (int i = 0; i < fields.Count(); ++i) all.columns.push_back(fields.Item(i).Name());
        PrintCsv(std::cout, all);
        header = true;
      }
      const Cell key = Cell::Of(a.key);
      PrintCsvRows(std::cout, *a.table, layout.by ? &key : nullptr);
    }
    return;
  } else {
    if (layout.by) all.columns.push_back(*layout.by);
    all.columns.push_back("Run");
    for (const auto& [name, value] : answers.front().results) all.columns.emplace_back(name);
    for (const auto& [name, value] : answers.front().extra) all.columns.push_back(name);
    for (const AnalysisAnswer& a : answers) {
      std::vector<Cell> row;
      if (layout.by) row.push_back(Cell::Of(a.key));
      row.push_back(Cell::Bool(a.ran));
      for (const auto& [name, value] : a.results) row.push_back(value);
      for (const auto& [name, value] : a.extra) row.push_back(value);
      all.rows.push_back(std::move(row));
    }
  }
  PrintCsv(std::cout, all);
}

}  // namespace

bool PrintAnswers(const std::vector<AnalysisAnswer>& answers, const AnswerLayout& layout,
                  const std::vector<std::string>& messages) {
  for (const AnalysisAnswer& a : answers)
    if (a.table) WarnOfLargeTable(std::cerr, layout.command.c_str(), *a.table);
  bool all_ran = true;
  std::string first_reason;
  for (const AnalysisAnswer& a : answers) {
    if (a.ran) continue;
    if (all_ran) first_reason = a.reason;
    all_ran = false;
  }
  if (layout.format == Format::kJson) {
    PrintJson(answers, layout, all_ran, first_reason, messages);
    if (!all_ran) SayFailureFirst(layout.command, first_reason, false);
    return all_ran;
  }
  // Outside JSON a message box is written on stderr as the run shows it: a
  // reason that is its text is not said there twice.
  const bool boxed = !messages.empty() && first_reason.ends_with(messages.back());
  if (!all_ran) SayFailureFirst(layout.command, first_reason, layout.format != Format::kCsv, !boxed);
  if (layout.format == Format::kCsv) {
    PrintCsvAnswers(answers, layout);
    return all_ran;
  }
  for (std::size_t i = 0; i < answers.size(); ++i) {
    const AnalysisAnswer& a = answers[i];
    if (i) std::cout << '\n';
    Table props;
    props.columns = {"Result", "Value"};
    if (layout.by && !a.whole_input) props.rows.push_back({*layout.by, Cell::Of(a.key)});
    for (const auto& [name, value] : layout.heading) props.rows.push_back({name, value});
    props.rows.push_back({"Run", Cell::Bool(a.ran)});
    for (const auto& [name, value] : a.results) props.rows.push_back({std::string(name), value});
    for (const auto& [name, value] : a.extra) props.rows.push_back({name, value});
    if (a.categorical) props.rows.push_back({"Categorical", Cell::Bool(*a.categorical)});
    PrintProperties(std::cout, layout.format, props, layout.precision);
    if (a.table) {
      std::cout << '\n';
      PrintIn(std::cout, layout.format, *a.table, layout.precision);
    }
  }
  return all_ran;
}

}  // namespace qelcli

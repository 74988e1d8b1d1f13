#include "analysis_answer.h"

#include <iostream>

namespace qelcli {

void PrintAnswer(const AnalysisAnswer& answer, bool json, const std::vector<std::string>& messages) {
  if (json) {
    JsonObject out;
    out.Add("Run", answer.ran);
    if (!answer.notes.empty()) out.Add("error", JoinNotes(answer.notes));
    for (const auto& [name, value] : answer.results) out.Add(std::string(name), value);
    if (answer.categorical) out.Add("Categorical", *answer.categorical);
    if (answer.table)
      out.AddRecordset("ResultSet", *answer.table);
    else
      out.AddNull("ResultSet");
    out.AddRaw("messages", JsonStrings(messages));
    out.Write(std::cout);
    std::cout << '\n';
    return;
  }
  std::vector<std::pair<std::string, std::string>> rows = answer.heading;
  for (const auto& [name, value] : answer.results) rows.emplace_back(name, HumanNumber(value));
  if (answer.categorical) rows.emplace_back("Categorical", *answer.categorical ? "True" : "False");
  PrintProperties(std::cout, rows);
  if (answer.table) {
    std::cout << '\n';
    PrintRecordset(std::cout, *answer.table);
  }
}

}  // namespace qelcli

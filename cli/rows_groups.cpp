#include "rows_groups.h"

#include <cctype>
#include <charconv>
#include <memory>

#include "qelStatsLib/presenter.h"

namespace qelcli {

namespace {

std::string Trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\n") - b + 1);
}

// Whether `sql` holds a ';' outside quotes ('...', "...", [...]).
bool HasStatementEnd(const std::string& sql) {
  char quote = 0;
  for (char c : sql) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '[') {
      quote = ']';
    } else if (c == ';') {
      return true;
    }
  }
  return false;
}

bool StartsWithWord(const std::string& text, const char* word) {
  std::string lower;
  for (char c : Trimmed(text).substr(0, std::string(word).size() + 1))
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string w(word);
  return lower.compare(0, w.size(), w) == 0 && (lower.size() == w.size() || !std::isalnum(static_cast<unsigned char>(lower[w.size()])));
}

}  // namespace

InputSpec ApplyWhere(const Args& args, InputSpec input) {
  const auto where = args.Get("where");
  if (!where) return input;
  const std::string condition = Trimmed(*where);
  if (condition.empty()) throw UsageError("option --where needs a condition, such as \"League = 'NL'\"");
  if (HasStatementEnd(condition))
    throw UsageError("option --where takes one condition: a ';' outside quotes would end the statement");
  std::string source = Trimmed(input.source);
  while (!source.empty() && source.back() == ';') source = Trimmed(source.substr(0, source.size() - 1));
  if (StartsWithWord(source, "select") || StartsWithWord(source, "with") || StartsWithWord(source, "values")) {
    // --csv's own "select * from [file]" takes the condition directly, so the
    // text provider reads the file with its own column types.
    const bool whole_file = args.Get("csv").has_value();
    input.source = whole_file ? source + " where " + condition
                              : "select * from (" + source + ") as qel_rows where " + condition;
  } else {
    input.source = "select * from " + source + " where " + condition;
  }
  return input;
}

std::vector<double> PercentileLevels(const Args& args) {
  std::vector<double> levels;
  const auto text = args.Get("percentiles");
  if (!text) return levels;
  std::size_t start = 0;
  while (start <= text->size()) {
    const std::size_t comma = std::min(text->find(',', start), text->size());
    const std::string item = Trimmed(text->substr(start, comma - start));
    const auto n = qeldata::ParseNumber(item);
    if (!n || *n < 0 || *n > 100)
      throw UsageError("option --percentiles needs levels from 0 to 100 separated by commas (1,5,95,99), not '" +
                       item + "'");
    levels.push_back(*n / 100);
    start = comma + 1;
  }
  return levels;
}

std::string PercentileName(double share) { return "P" + qeldata::NumberText(share * 100); }

std::string GroupKeyText(const qeldata::Value& key) { return key.IsNull() ? "(null)" : key.AsText(); }

std::string GroupKeyJson(const qeldata::Value& key) {
  if (key.IsNull()) return "null";
  if (key.IsNumber()) return JsonNumber(key.number());
  return JsonString(key.AsText());
}

std::vector<qel::DescribeGroup> ReadGroups(const InputSpec& input, const qel::DescribeRequest& request,
                                           const std::string& caption, bool show_progress) {
  const std::unique_ptr<qel::ProgressWindow> window = OpenReadingWindow(caption, show_progress);
  return qel::Describe_Source(input.source, input.connection_string, request);
}

std::unique_ptr<qel::ProgressWindow> OpenReadingWindow(const std::string& caption, bool show_progress) {
  if (!show_progress) return nullptr;
  // The bar follows the share of the input read (see terminal_presenter.h).
  std::unique_ptr<qel::ProgressWindow> window = qel::CurrentPresenter().LoadProgressWindow();
  window->SetCaption(caption);
  window->SetStatus("Reading Data");
  window->SetBarValue(0);
  window->ShowTopMost();
  window->Refresh();
  return window;
}

}  // namespace qelcli

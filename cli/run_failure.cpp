#include "run_failure.h"

#include <algorithm>
#include <iostream>

#include "qelStatsLib/describe.h"
#include "qeldata/text.h"
#include "reading_options.h"

namespace qelcli {

namespace {

using qeldata::text::ContainsNoCase;
using qeldata::text::Lower;

// A field name without its leading and trailing spaces (a blank name is
// empty after trimming spaces, as the classes read it).
std::string Trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The edit distance (insertions, deletions, substitutions, and swaps of two
// neighbours) between two names.
std::size_t Distance(const std::string& a, const std::string& b) {
  const std::size_t n = a.size(), m = b.size();
  std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
  for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= n; ++i)
    for (std::size_t j = 1; j <= m; ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[n][m];
}

}  // namespace

std::vector<std::string> ClosestNames(const std::string& name, const std::vector<std::string>& candidates) {
  const std::string key = Lower(Trimmed(name));
  if (key.empty()) return {};
  std::vector<std::pair<std::size_t, std::string>> near;
  for (const std::string& c : candidates) {
    // Shown as it can be typed: a heading " price" is found as "price".
    const std::string name = Trimmed(c);
    if (name.empty()) continue;
    const std::string lc = Lower(name);
    const std::size_t d = Distance(key, lc);
    // Near: a few edits for the length, or one name inside the other.
    const std::size_t limit = std::max<std::size_t>(1, std::min(key.size(), lc.size()) / 3 + 1);
    if (d <= limit || (key.size() >= 3 && lc.find(key) != std::string::npos)) near.emplace_back(d, name);
  }
  std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (std::size_t i = 0; i < near.size() && i < 3; ++i) out.push_back(near[i].second);
  return out;
}

std::string DidYouMean(const std::vector<std::string>& names) {
  if (names.empty()) return "";
  std::string out = "did you mean ";
  for (std::size_t i = 0; i < names.size(); ++i)
    out += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  return out + "?";
}

std::vector<std::string> InputFieldNames(const InputSpec& input) {
  std::vector<std::string> names;
  try {
    qeldata::Recordset rs;
    rs.SetCursorLocation(qeldata::adUseServer);
    rs.Open(input.source, input.connection_string, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
    const qeldata::Fields fields = rs.GetFields();
    for (int i = 0; i < fields.Count(); ++i) names.push_back(fields.Item(i).Name());
  } catch (const std::exception&) {
    names.clear();
  }
  return names;
}

std::string FailureReason(const Args& args, const InputSpec& input, const std::vector<std::string>& fields,
                          const std::vector<std::string>& numeric_fields, const std::string& run_reason) {
  if (const auto empty = EmptyFileNote(args, input)) return *empty;
  const std::string where = args.Get("csv") ? (*args.Get("csv") == "-" ? "standard input" : *args.Get("csv"))
                                            : input.source;
  std::vector<std::string> named;
  for (const std::string& f : fields)
    if (!Trimmed(f).empty()) named.push_back(Trimmed(f));

  // A name the input does not have.
  std::vector<int> types;
  try {
    qeldata::Recordset rs;
    rs.SetCursorLocation(qeldata::adUseServer);
    rs.Open(input.source, input.connection_string, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
    const qeldata::Fields all = rs.GetFields();
    std::vector<std::string> names;
    for (int i = 0; i < all.Count(); ++i) names.push_back(all.Item(i).Name());
    for (const std::string& f : named) {
      const int ordinal = all.Find(f);
      if (ordinal < 0) {
        std::string reason = "Unknown field '" + f + "' in " + where;
        const std::string hint = DidYouMean(ClosestNames(f, names));
        return hint.empty() ? reason : reason + "; " + hint;
      }
    }
    // A field of numbers that is text because of a few cells.
    std::vector<std::string> numeric;
    for (const std::string& f : numeric_fields)
      if (!Trimmed(f).empty()) numeric.push_back(Trimmed(f));
    std::string notes;
    for (const std::string& note : TextFieldNotes(all, numeric)) notes += (notes.empty() ? "" : "; ") + note;
    if (!notes.empty()) return notes;
    for (const std::string& f : numeric) {
      const qeldata::Field field = all.Item(all.Find(f));
      if (!qel::IsDescribedAsNumber(field.Type()))
        return "Numeric Data types only: " + field.Name() + " in " + where + " is a " +
               (qeldata::IsTextType(field.Type()) ? "text" : "date") + " field";
    }
  } catch (const std::exception&) {
    // The input cannot be opened: the run's own reason says why.
  }
  std::string reason = run_reason.empty() ? "the run stopped without saying why" : run_reason;
  const bool names_one = std::any_of(named.begin(), named.end(), [&](const std::string& f) {
    return ContainsNoCase(reason, "'" + f + "'") || ContainsNoCase(reason, f + ":") || ContainsNoCase(reason, f + " ");
  });
  if (!names_one && !named.empty()) reason = named.front() + ": " + reason;
  return reason;
}

void SayFailureFirst(const std::string& command, const std::string& reason, bool text_output, bool on_stderr) {
  if (text_output) std::cout << "Run returned False: " << TerminalText(reason) << '\n';
  if (on_stderr) std::cerr << "qelstats " << command << ": Run returned False: " << TerminalText(reason) << '\n';
}

}  // namespace qelcli

#include <algorithm>
#include <cctype>

#include "provider.h"

namespace qeldata::detail {

ConnectionString ConnectionString::Parse(std::string_view text) {
  ConnectionString cs;
  cs.text_ = std::string(text);
  std::size_t i = 0;
  while (i < text.size()) {
    // One element: up to the next ';' outside braces.
    std::string key, value;
    bool has_eq = false, in_value = false, braced = false;
    while (i < text.size() && text[i] != ';') {
      const char c = text[i];
      if (!in_value && c == '=') {
        has_eq = in_value = true;
        ++i;
        // A value in braces runs to its closing '}' and may hold ';' and '=';
        // inside it "}}" stands for one '}', so any folder name can be given.
        std::size_t j = i;
        while (j < text.size() && text[j] == ' ') ++j;
        if (j < text.size() && text[j] == '{') {
          std::size_t k = j + 1;
          for (;; ++k) {
            if (k >= text.size())
              throw Error(kErrInvalidArgument, "qeldata",
                          "Malformed connection string: a '{' has no closing '}'");
            if (text[k] != '}') {
              value.push_back(text[k]);
            } else if (k + 1 < text.size() && text[k + 1] == '}') {
              value.push_back('}');
              ++k;
            } else {
              break;
            }
          }
          braced = true;
          i = k + 1;
          // Only blanks may follow the closing brace.
          while (i < text.size() && text[i] == ' ') ++i;
          if (i < text.size() && text[i] != ';')
            throw Error(kErrInvalidArgument, "qeldata",
                        "Malformed connection string: text after the '}' that closes the value of " + std::string(Trim(key)));
        }
        continue;
      }
      (in_value ? value : key).push_back(c);
      ++i;
    }
    if (i < text.size()) ++i;  // the ';'
    std::string k = std::string(Trim(key));
    if (k.empty() && !has_eq) continue;
    if (!has_eq) {
      cs.flags_.push_back(std::move(k));
      continue;
    }
    // A braced value is taken as written, blanks and all.
    std::string v = braced ? std::move(value) : std::string(Trim(value));
    cs.pairs_.emplace_back(std::move(k), std::move(v));
  }
  return cs;
}

std::optional<std::string> ConnectionString::Get(std::string_view key) const {
  for (auto it = pairs_.rbegin(); it != pairs_.rend(); ++it)
    if (EqualsNoCase(it->first, key)) return it->second;
  return std::nullopt;
}

bool ConnectionString::HasFlag(std::string_view word) const {
  return std::any_of(flags_.begin(), flags_.end(), [&](const std::string& f) { return EqualsNoCase(f, word); });
}

namespace {

bool IsTextConnection(const ConnectionString& cs) {
  return cs.HasFlag("Text") || EqualsNoCase(cs.Get("Driver").value_or(""), "Microsoft Text Driver (*.txt; *.csv)");
}

}  // namespace

std::unique_ptr<Provider> MakeProvider(std::string_view connection_string) {
  const ConnectionString cs = ConnectionString::Parse(connection_string);
  const std::string driver = cs.Get("Driver").value_or("");
  if (IsTextConnection(cs)) return MakeTextProvider(cs);
  if (EqualsNoCase(driver, "SQLite3") && (cs.Get("Database") || cs.Get("Data Source")))
    return MakeSqliteProvider(cs);
  if (!cs.Get("Driver") && !cs.Get("DSN") && !cs.Get("FileDSN") && cs.Get("Data Source") && !cs.Get("Provider"))
    return MakeSqliteProvider(cs);
  return MakeOdbcProvider(cs);
}

}  // namespace qeldata::detail

namespace qeldata {

std::unique_ptr<ColumnScan> ColumnScan::Open(std::string_view source, std::string_view connection_string) {
  // Only a text connection is asked: another provider would connect to its
  // database for nothing.
  const detail::ConnectionString cs = detail::ConnectionString::Parse(connection_string);
  if (!detail::IsTextConnection(cs)) return nullptr;
  return detail::MakeTextProvider(cs)->OpenColumns(source);
}

}  // namespace qeldata

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
    bool has_eq = false, in_value = false;
    while (i < text.size() && text[i] != ';') {
      const char c = text[i];
      if (!in_value && c == '=') {
        has_eq = in_value = true;
        ++i;
        // A value in braces runs to the matching '}' and may hold ';' and '='.
        std::size_t j = i;
        while (j < text.size() && text[j] == ' ') ++j;
        if (j < text.size() && text[j] == '{') {
          const std::size_t close = text.find('}', j + 1);
          if (close == std::string_view::npos)
            throw Error(kErrInvalidArgument, "qeldata",
                        "Malformed connection string: a '{' has no closing '}'");
          value.append(text.substr(j, close - j + 1));
          i = close + 1;
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
    std::string v = std::string(Trim(value));
    if (v.size() >= 2 && v.front() == '{' && v.back() == '}') v = v.substr(1, v.size() - 2);
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

std::unique_ptr<Provider> MakeProvider(std::string_view connection_string) {
  const ConnectionString cs = ConnectionString::Parse(connection_string);
  const std::string driver = cs.Get("Driver").value_or("");
  if (cs.HasFlag("Text") || EqualsNoCase(driver, "Microsoft Text Driver (*.txt; *.csv)"))
    return MakeTextProvider(cs);
  if (EqualsNoCase(driver, "SQLite3") && (cs.Get("Database") || cs.Get("Data Source")))
    return MakeSqliteProvider(cs);
  if (!cs.Get("Driver") && !cs.Get("DSN") && !cs.Get("FileDSN") && cs.Get("Data Source") && !cs.Get("Provider"))
    return MakeSqliteProvider(cs);
  return MakeOdbcProvider(cs);
}

}  // namespace qeldata::detail

#include "sql_statements.h"

#include "qeldata/error.h"

namespace qeldata::detail {

namespace {

struct Reading {
  bool backslash_escapes_in_plain_strings;  // standard_conforming_strings off, and some other databases
  bool nested_comments;                     // PostgreSQL nests /* */; most others do not
};

struct Scan {
  std::size_t first_separator = std::string_view::npos;  // the first ';' outside quotes and comments
  bool text_after_separator = false;                     // anything but blanks and comments after it
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u == '$' ||
         u >= 0x80;
}

bool IsTagStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u == '_' || u >= 0x80;
}

bool IsTagChar(char c) { return IsTagStart(c) || (c >= '0' && c <= '9'); }

// Past the closing quote of a string or identifier opened at s[i]; npos
// when it never closes (nothing after it can then be a statement).
std::size_t SkipQuoted(std::string_view s, std::size_t i, bool backslash_escapes) {
  const char quote = s[i];
  for (++i; i < s.size(); ++i) {
    if (backslash_escapes && s[i] == '\\') {
      ++i;
    } else if (s[i] == quote) {
      if (i + 1 < s.size() && s[i + 1] == quote) {
        ++i;  // a doubled quote stands for itself
      } else {
        return i + 1;
      }
    }
  }
  return std::string_view::npos;
}

std::size_t SkipBlockComment(std::string_view s, std::size_t i, bool nested) {
  int depth = 0;
  while (i + 1 < s.size()) {
    if (s[i] == '/' && s[i + 1] == '*' && (nested || depth == 0)) {
      ++depth;
      i += 2;
    } else if (s[i] == '*' && s[i + 1] == '/') {
      i += 2;
      if (--depth == 0) return i;
    } else {
      ++i;
    }
  }
  return std::string_view::npos;
}

Scan ScanText(std::string_view s, Reading reading) {
  Scan scan;
  std::size_t i = 0;
  const auto content = [&](std::size_t at) {
    if (scan.first_separator != std::string_view::npos && at > scan.first_separator) scan.text_after_separator = true;
  };
  while (i < s.size() && !scan.text_after_separator) {
    const char c = s[i];
    const char next = i + 1 < s.size() ? s[i + 1] : '\0';
    if (IsBlank(c)) {
      ++i;
    } else if (c == '-' && next == '-') {
      while (i < s.size() && s[i] != '\n' && s[i] != '\r') ++i;
    } else if (c == '/' && next == '*') {
      i = SkipBlockComment(s, i, reading.nested_comments);
      if (i == std::string_view::npos) break;
    } else if (c == ';') {
      content(i);
      if (scan.first_separator == std::string_view::npos) scan.first_separator = i;
      ++i;
    } else if (c == '\'' || c == '"') {
      content(i);
      i = SkipQuoted(s, i, c == '\'' && reading.backslash_escapes_in_plain_strings);
      if (i == std::string_view::npos) break;
    } else if (c == '$' && !(next >= '0' && next <= '9')) {
      content(i);
      // $tag$ ... $tag$ (the tag may be empty); a lone '$' is an operator character.
      std::size_t j = i + 1;
      if (j < s.size() && IsTagStart(s[j]))
        while (j < s.size() && IsTagChar(s[j])) ++j;
      if (j < s.size() && s[j] == '$') {
        const std::string_view tag = s.substr(i, j + 1 - i);
        const std::size_t close = s.find(tag, j + 1);
        if (close == std::string_view::npos) break;
        i = close + tag.size();
      } else {
        ++i;
      }
    } else if (IsWordChar(c)) {
      content(i);
      // A whole word: '$' inside a name opens no quote.
      const std::size_t start = i;
      while (i < s.size() && IsWordChar(s[i])) ++i;
      if (i - start == 1 && (s[start] == 'E' || s[start] == 'e') && i < s.size() && s[i] == '\'') {
        i = SkipQuoted(s, i, true);  // E'...': backslashes escape
        if (i == std::string_view::npos) break;
      }
    } else {
      content(i);
      ++i;
    }
  }
  return scan;
}

}  // namespace

std::string SingleStatement(std::string_view sql) {
  static constexpr Reading kReadings[] = {{false, true}, {true, true}, {false, false}, {true, false}};
  for (const Reading& reading : kReadings) {
    if (ScanText(sql, reading).text_after_separator)
      throw Error(kErrInvalidArgument, "qeldata",
                  "the SQL text holds more than one statement; only a single query can be read");
  }
  // PostgreSQL's own reading decides where the one statement ends.
  const Scan scan = ScanText(sql, kReadings[0]);
  std::string_view statement = sql.substr(0, scan.first_separator);
  while (!statement.empty() && IsBlank(statement.back())) statement.remove_suffix(1);
  return std::string(statement);
}

}  // namespace qeldata::detail

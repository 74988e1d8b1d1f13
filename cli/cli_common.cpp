#include "cli_common.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <sstream>

namespace qelcli {

namespace fs = std::filesystem;

Args::Args(const std::vector<std::string>& argv, const std::vector<std::string>& flags) {
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a.substr(2), value;
      const auto eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        values_[name] = value;
        continue;
      }
      if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
        switches_.push_back(name);
        continue;
      }
      if (i + 1 >= argv.size()) throw UsageError("option --" + name + " needs a value");
      values_[name] = argv[++i];
    } else {
      positional_.push_back(a);
    }
  }
}

bool Args::Has(const std::string& name) const {
  return values_.count(name) || std::find(switches_.begin(), switches_.end(), name) != switches_.end();
}

std::optional<std::string> Args::Get(const std::string& name) const {
  auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::string Args::Require(const std::string& name) const {
  auto v = Get(name);
  if (!v) throw UsageError("missing option --" + name);
  return *v;
}

double Args::RequireNumber(const std::string& name) const {
  const std::string text = Require(name);
  auto n = qeldata::ParseNumber(text);
  if (!n) throw UsageError("option --" + name + " needs a number, not '" + text + "'");
  return *n;
}

void Args::AllowOnly(const std::vector<std::string>& known) const {
  auto check = [&](const std::string& name) {
    if (std::find(known.begin(), known.end(), name) == known.end()) throw UsageError("unknown option --" + name);
  };
  for (const auto& [name, value] : values_) check(name);
  for (const auto& name : switches_) check(name);
}

InputSpec ResolveInput(const Args& args) {
  const auto csv = args.Get("csv");
  const auto connection = args.Get("connection");
  const auto source = args.Get("source");
  if (csv && (connection || source)) throw UsageError("give either --csv or --connection with --source, not both");
  if (csv) {
    const fs::path path(*csv);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) throw UsageError("no such file: " + *csv);
    const fs::path folder = fs::absolute(path, ec).parent_path();
    return InputSpec{"Text;DBQ=" + folder.string(), "select * from [" + path.filename().string() + "]"};
  }
  if (!connection || !source) throw UsageError("give --csv PATH, or --connection STR with --source STR");
  return InputSpec{*connection, *source};
}

// ---- JSON ----

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string JsonNumber(double x) {
  if (!std::isfinite(x)) return "null";
  // Shortest round-trip digits, written without an exponent for ordinary
  // magnitudes so that 200000 reads "200000", not "2e+05".
  const double magnitude = std::fabs(x);
  if (magnitude != 0 && (magnitude < 1e-6 || magnitude >= 1e17)) return qeldata::RoundTripText(x);
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed);
  return std::string(buf, res.ptr);
}

void JsonObject::Add(const std::string& key, double value) { members_.emplace_back(key, JsonNumber(value)); }
void JsonObject::Add(const std::string& key, bool value) { members_.emplace_back(key, value ? "true" : "false"); }
void JsonObject::Add(const std::string& key, const std::string& value) {
  members_.emplace_back(key, JsonString(value));
}
void JsonObject::AddNull(const std::string& key) { members_.emplace_back(key, "null"); }
void JsonObject::AddRaw(const std::string& key, const std::string& json) { members_.emplace_back(key, json); }

std::string JsonObject::str() const {
  std::string out = "{";
  for (std::size_t i = 0; i < members_.size(); ++i) {
    if (i) out += ", ";
    out += JsonString(members_[i].first) + ": " + members_[i].second;
  }
  return out + "}";
}

std::string JsonStrings(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (std::size_t i = 0; i < texts.size(); ++i) out += (i ? ", " : "") + JsonString(texts[i]);
  return out + "]";
}

namespace {

std::string JsonValue(const qeldata::Value& v) {
  using K = qeldata::Value::Kind;
  switch (v.kind()) {
    case K::kNull: return "null";
    case K::kNumber: return JsonNumber(v.number());
    case K::kBoolean: return v.boolean() ? "true" : "false";
    default: return JsonString(v.AsText());
  }
}

std::string CellText(const qeldata::Value& v) {
  if (v.IsNumber()) return HumanNumber(v.number());
  return v.AsText();
}

}  // namespace

std::string JsonRecordset(qeldata::Recordset& rs) {
  auto fields = rs.GetFields();
  std::string out = "{\"columns\": [";
  for (int i = 0; i < fields.Count(); ++i) out += (i ? ", " : "") + JsonString(fields.Item(i).Name());
  out += "], \"rows\": [";
  bool first_row = true;
  if (!(rs.IsBOF() && rs.IsEOF())) {
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
      out += first_row ? "[" : ", [";
      first_row = false;
      for (int i = 0; i < fields.Count(); ++i) out += (i ? ", " : "") + JsonValue(fields.Item(i).GetValue());
      out += "]";
    }
  }
  return out + "]}";
}

// ---- Tables ----

std::string HumanNumber(double x) { return qeldata::NumberText(x); }

void PrintProperties(std::ostream& out, const std::vector<std::pair<std::string, std::string>>& rows) {
  std::size_t width = 0;
  for (const auto& r : rows) width = std::max(width, r.first.size());
  for (const auto& r : rows) out << std::left << std::setw(static_cast<int>(width) + 2) << r.first << r.second << '\n';
}

void PrintRecordset(std::ostream& out, qeldata::Recordset& rs) {
  auto fields = rs.GetFields();
  std::vector<std::vector<std::string>> cells;
  std::vector<std::string> header;
  for (int i = 0; i < fields.Count(); ++i) header.push_back(fields.Item(i).Name());
  std::vector<std::size_t> widths(header.size());
  for (std::size_t i = 0; i < header.size(); ++i) widths[i] = header[i].size();
  if (!(rs.IsBOF() && rs.IsEOF())) {
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
      std::vector<std::string> row;
      for (int i = 0; i < fields.Count(); ++i) {
        row.push_back(CellText(fields.Item(i).GetValue()));
        widths[i] = std::max(widths[i], row.back().size());
      }
      cells.push_back(std::move(row));
    }
  }
  auto print_row = [&](const std::vector<std::string>& row) {
    for (std::size_t i = 0; i < row.size(); ++i)
      out << (i ? "  " : "") << std::right << std::setw(static_cast<int>(widths[i])) << row[i];
    out << '\n';
  };
  print_row(header);
  std::vector<std::string> rule;
  for (auto w : widths) rule.push_back(std::string(w, '-'));
  print_row(rule);
  for (const auto& row : cells) print_row(row);
}

// ---- Presenter ----

std::vector<std::string> WithCommonFlags(std::vector<std::string> flags) {
  flags.insert(flags.end(), kCommonFlags.begin(), kCommonFlags.end());
  return flags;
}

CliPresenter::CliPresenter(bool json, bool progress)
    : json_(json), terminal_(2, progress) {}

CliPresenter::CliPresenter(const Args& args) : CliPresenter(args.Has("json"), !args.Has("no-progress")) {}

std::unique_ptr<qel::ProgressWindow> CliPresenter::LoadProgressWindow() {
  // With --no-progress the terminal presenter draws nothing but still clears
  // the cancel flag, as loading any window does.
  return terminal_.LoadProgressWindow();
}

void CliPresenter::ShowMessage(const std::string& text) {
  messages_.push_back(text);
  // Through the terminal presenter, so a progress line on screen is moved
  // below the message instead of being written over.
  if (!json_) terminal_.ShowMessage(text);
}

}  // namespace qelcli

#include "cli_common.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <sstream>

namespace qelcli {

namespace fs = std::filesystem;

Args::Args(const std::vector<std::string>& argv, const std::vector<std::string>& flags) {
  auto set_value = [&](const std::string& name, const std::string& value) {
    // A second value would silently replace the first: which file did the
    // user mean?
    if (!values_.emplace(name, value).second) throw UsageError("option --" + name + " given more than once");
  };
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      std::string name = a.substr(2), value;
      const bool is_flag = std::find(flags.begin(), flags.end(), name.substr(0, name.find('='))) != flags.end();
      const auto eq = name.find('=');
      if (eq != std::string::npos) {
        // "--json=no" must not turn JSON on: a switch takes no value at all.
        if (is_flag) throw UsageError("option --" + name.substr(0, eq) + " is a switch and takes no value");
        set_value(name.substr(0, eq), name.substr(eq + 1));
        continue;
      }
      if (is_flag) {
        if (std::find(switches_.begin(), switches_.end(), name) == switches_.end()) switches_.push_back(name);
        continue;
      }
      if (i + 1 >= argv.size()) throw UsageError("option --" + name + " needs a value");
      set_value(name, argv[++i]);
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

namespace {

// Why `path` cannot be read as a CSV file, or nullopt when it is a regular
// file (through any symbolic links).
std::optional<std::string> NotAFile(const fs::path& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (ec) {
    if (ec == std::errc::no_such_file_or_directory) {
      // A link whose target is gone is named as such.
      if (fs::is_symlink(fs::symlink_status(path, ec))) return "a symbolic link to a missing file";
      return "no such file";
    }
    return ec.message();  // "Too many levels of symbolic links", "Permission denied", ...
  }
  switch (st.type()) {
    case fs::file_type::regular: return std::nullopt;
    case fs::file_type::directory: return "a folder, not a file";
    case fs::file_type::fifo: return "a named pipe (FIFO), not a regular file";
    case fs::file_type::socket: return "a socket, not a regular file";
    case fs::file_type::character:
    case fs::file_type::block: return "a device, not a regular file";
    default: return "not a regular file";
  }
}

}  // namespace

InputSpec ResolveInput(const Args& args) {
  const auto csv = args.Get("csv");
  const auto connection = args.Get("connection");
  const auto source = args.Get("source");
  if (csv && (connection || source)) throw UsageError("give either --csv or --connection with --source, not both");
  if (csv) {
    const fs::path path(*csv);
    if (auto why = NotAFile(path)) throw UsageError("cannot read " + *csv + ": " + *why);
    std::error_code ec;
    const fs::path folder = fs::absolute(path, ec).parent_path();
    const std::string name = path.filename().string();
    // The folder and the file name are quoted, never pasted: a name holding
    // "]" or ";DBQ=" stays one name. The provider trims blanks around a
    // bracketed name, so a name that starts or ends with one cannot be given.
    if (name.empty() || std::isspace(static_cast<unsigned char>(name.front())) ||
        std::isspace(static_cast<unsigned char>(name.back())))
      throw UsageError("cannot read " + *csv + ": a file name that starts or ends with a blank cannot be opened");
    std::string quoted_folder, quoted_name;
    for (char c : folder.string()) quoted_folder += c == '}' ? std::string("}}") : std::string(1, c);
    for (char c : name) quoted_name += c == ']' ? std::string("]]") : std::string(1, c);
    return InputSpec{"Text;DBQ={" + quoted_folder + "}", "select * from [" + quoted_name + "]"};
  }
  if (!connection || !source) throw UsageError("give --csv PATH, or --connection STR with --source STR");
  return InputSpec{*connection, *source};
}

std::optional<std::string> EmptyFileNote(const Args& args, const InputSpec& input) {
  const auto csv = args.Get("csv");
  if (!csv) return std::nullopt;
  try {
    qeldata::Recordset rs;
    rs.SetCursorLocation(qeldata::adUseServer);
    rs.Open(input.source, input.connection_string, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
    if (!rs.IsEOF()) return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;  // the run's own reason stands
  }
  return "the file " + *csv + " has no data rows, only a header line";
}

// ---- JSON ----

namespace {

std::size_t json_replaced_bytes = 0;

// The length of the well-formed UTF-8 sequence at s[i] and its code point,
// or 0 when s[i] starts none (a stray continuation byte, an overlong form, a
// surrogate, a value above U+10FFFF, a sequence cut short).
std::size_t Utf8Sequence(std::string_view s, std::size_t i, char32_t* code_point) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  }
  std::size_t length;
  char32_t cp, min;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, cp = lead & 0x1F, min = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, cp = lead & 0x0F, min = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, cp = lead & 0x07, min = 0x10000;
  else return 0;
  if (i + length > s.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *code_point = cp;
  return length;
}

// Control characters a terminal acts on: C0, DEL and C1.
bool IsControl(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

}  // namespace

std::string TerminalText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    const std::size_t length = Utf8Sequence(s, i, &cp);
    char buf[12];
    if (length == 0) {
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(s[i]));
      out += buf;
      ++i;
      continue;
    }
    if (IsControl(cp)) {
      std::snprintf(buf, sizeof buf, cp < 0x80 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(cp));
      out += buf;
    } else {
      out.append(s.substr(i, length));
    }
    i += length;
  }
  return out;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    const std::size_t length = Utf8Sequence(s, i, &cp);
    if (length == 0) {
      // Not UTF-8: JSON cannot carry the byte; U+FFFD marks where it was.
      out += "\xEF\xBF\xBD";
      ++json_replaced_bytes;
      ++i;
      continue;
    }
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (IsControl(cp)) {
          // DEL and C1 are legal in JSON but would reach a terminal raw.
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
          out += buf;
        } else {
          out.append(s, i, length);
        }
    }
    i += length;
  }
  return out + "\"";
}

std::size_t JsonReplacedBytes() { return json_replaced_bytes; }

namespace {

// Standard output through one buffer that remembers the first failed write,
// with its reason. (Through C's stdio the reason is lost whenever a write to
// std::cerr flushes std::cout first.)
class CheckedOutput final : public std::streambuf {
 public:
  CheckedOutput() { setp(buffer_, buffer_ + sizeof buffer_); }
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  bool Drain() {
    const char* data = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    setp(buffer_, buffer_ + sizeof buffer_);
    if (error_) return false;  // once a part is lost, no later part may look complete
    while (left > 0) {
      const ssize_t n = ::write(1, data, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = n < 0 ? errno : EIO;
        return false;
      }
      data += n;
      left -= static_cast<std::size_t>(n);
    }
    return true;
  }

  char buffer_[1 << 16];
  int error_ = 0;
};

CheckedOutput* checked_output = nullptr;

}  // namespace

void CheckStandardOutput() {
  // Never destroyed: std::cout flushes through its buffer after every static
  // object of the program has gone, when the standard streams are torn down.
  static CheckedOutput* const output = new CheckedOutput;
  checked_output = output;
  std::cout.rdbuf(output);
}

bool FinishOutput(const std::string& command) {
  std::cout.flush();
  const std::string who = "qelstats" + (command.empty() ? "" : " " + command);
  if (!std::cout.good() || (checked_output && checked_output->error())) {
    const int error = checked_output ? checked_output->error() : 0;
    std::cerr << who << ": cannot write the output" << (error ? std::string(": ") + std::strerror(error) : "")
              << '\n';
    return false;
  }
  if (json_replaced_bytes)
    std::cerr << who << ": note: " << json_replaced_bytes << (json_replaced_bytes == 1 ? " byte" : " bytes")
              << " of text that is not UTF-8 written as U+FFFD in the JSON output\n";
  return true;
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
void JsonObject::AddRecordset(const std::string& key, qeldata::Recordset& rs) {
  members_.emplace_back(key, std::string());
  recordsets_.resize(members_.size(), nullptr);
  recordsets_.back() = &rs;
}

std::string JsonObject::str() const {
  std::ostringstream out;
  Write(out);
  return out.str();
}

void JsonObject::Write(std::ostream& out) const {
  out << '{';
  for (std::size_t i = 0; i < members_.size(); ++i) {
    if (i) out << ", ";
    out << JsonString(members_[i].first) << ": ";
    if (i < recordsets_.size() && recordsets_[i]) WriteJsonRecordset(out, *recordsets_[i]);
    else out << members_[i].second;
  }
  out << '}';
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
  std::ostringstream out;
  WriteJsonRecordset(out, rs);
  return out.str();
}

void WriteJsonRecordset(std::ostream& out, qeldata::Recordset& rs) {
  auto fields = rs.GetFields();
  out << "{\"columns\": [";
  for (int i = 0; i < fields.Count(); ++i) out << (i ? ", " : "") << JsonString(fields.Item(i).Name());
  out << "], \"rows\": [";
  bool first_row = true;
  if (!(rs.IsBOF() && rs.IsEOF())) {
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
      out << (first_row ? "[" : ", [");
      first_row = false;
      for (int i = 0; i < fields.Count(); ++i) out << (i ? ", " : "") << JsonValue(fields.Item(i).GetValue());
      out << ']';
    }
  }
  out << "]}";
}

void WarnOfLargeTable(std::ostream& err, const char* command, qeldata::Recordset& rs, std::int64_t limit) {
  const std::int64_t rows = rs.RecordCount();
  if (rows > limit)
    err << "qelstats " << command << ": warning: the result table has " << rows
        << " rows (one per distinct value or bin); writing it takes a while\n";
}

// ---- Tables ----

std::string HumanNumber(double x) { return qeldata::NumberText(x); }

void PrintProperties(std::ostream& out, const std::vector<std::pair<std::string, std::string>>& rows) {
  std::size_t width = 0;
  std::vector<std::pair<std::string, std::string>> shown;
  for (const auto& r : rows) shown.emplace_back(TerminalText(r.first), TerminalText(r.second));
  for (const auto& r : shown) width = std::max(width, r.first.size());
  for (const auto& r : shown) out << std::left << std::setw(static_cast<int>(width) + 2) << r.first << r.second << '\n';
}

void PrintRecordset(std::ostream& out, qeldata::Recordset& rs) {
  auto fields = rs.GetFields();
  std::vector<std::string> header;
  for (int i = 0; i < fields.Count(); ++i) header.push_back(TerminalText(fields.Item(i).Name()));
  std::vector<std::size_t> widths(header.size());
  for (std::size_t i = 0; i < header.size(); ++i) widths[i] = header[i].size();
  const bool empty = rs.IsBOF() && rs.IsEOF();
  // Two passes, the widths first: the cells' texts are made twice rather
  // than kept, so a table of millions of rows is never held as text.
  std::vector<std::string> row(header.size());
  const auto read_row = [&] {
    for (int i = 0; i < fields.Count(); ++i) row[i] = TerminalText(CellText(fields.Item(i).GetValue()));
  };
  if (!empty)
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
      read_row();
      for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
  auto print_row = [&](const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i)
      out << (i ? "  " : "") << std::right << std::setw(static_cast<int>(widths[i])) << cells[i];
    out << '\n';
  };
  print_row(header);
  std::vector<std::string> rule;
  for (auto w : widths) rule.push_back(std::string(w, '-'));
  print_row(rule);
  if (!empty)
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
      read_row();
      print_row(row);
    }
}

// ---- Presenter ----

std::vector<std::string> WithCommonFlags(std::vector<std::string> flags) {
  flags.insert(flags.end(), kCommonFlags.begin(), kCommonFlags.end());
  return flags;
}

namespace {

// Set while a progress line may be on the terminal, read by the signal handler.
volatile std::sig_atomic_t progress_line_shown = 0;

// SIGINT or SIGTERM during a run: the line would stay on the terminal, under
// the shell's prompt. Erase it (write(2) is async-signal-safe; the line never
// reaches the last column, so "\r" then erase-to-end-of-line clears it) and
// die of the signal, as the shell expects.
extern "C" void EraseProgressLineAndDie(int signal_number) {
  if (progress_line_shown) {
    static const char kErase[] = "\r\033[K";
    const ssize_t written = ::write(2, kErase, sizeof kErase - 1);
    static_cast<void>(written);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);  // delivered, with the default action, when the handler returns
}

// The terminal's window, noting for the signal handler when its line is shown.
class NotedWindow final : public qel::ProgressWindow {
 public:
  // The terminal window may draw its line on any call, ShowTopMost or not, so
  // the line counts as shown from the window's creation to its end; erasing
  // a line that was never drawn costs nothing.
  explicit NotedWindow(std::unique_ptr<qel::ProgressWindow> window) : window_(std::move(window)) {
    progress_line_shown = 1;
  }
  ~NotedWindow() override {
    window_.reset();  // erases the line
    progress_line_shown = 0;
  }
  void SetCaption(const std::string& caption) override { window_->SetCaption(caption); }
  void SetStatus(const std::string& text) override { window_->SetStatus(text); }
  void SetBarValue(int value) override { window_->SetBarValue(value); }
  void ShowTopMost() override { window_->ShowTopMost(); }
  void Refresh() override { window_->Refresh(); }

 private:
  std::unique_ptr<qel::ProgressWindow> window_;
};

constexpr int kErasingSignals[] = {SIGINT, SIGTERM};

}  // namespace

CliPresenter::CliPresenter(bool json, bool progress)
    : json_(json), terminal_(2, progress) {
  if (!terminal_.DrawsProgress()) return;
  for (std::size_t i = 0; i < std::size(kErasingSignals); ++i) {
    struct sigaction action {};
    action.sa_handler = EraseProgressLineAndDie;
    sigemptyset(&action.sa_mask);
    ::sigaction(kErasingSignals[i], &action, &saved_actions_[i]);
    // A signal the caller ignores (nohup, a background job) stays ignored.
    if (saved_actions_[i].sa_handler == SIG_IGN) ::sigaction(kErasingSignals[i], &saved_actions_[i], nullptr);
  }
  handlers_installed_ = true;
}

CliPresenter::~CliPresenter() {
  if (!handlers_installed_) return;
  for (std::size_t i = 0; i < std::size(kErasingSignals); ++i)
    ::sigaction(kErasingSignals[i], &saved_actions_[i], nullptr);
}

CliPresenter::CliPresenter(const Args& args) : CliPresenter(args.Has("json"), !args.Has("no-progress")) {}

std::unique_ptr<qel::ProgressWindow> CliPresenter::LoadProgressWindow() {
  // With --no-progress the terminal presenter draws nothing but still clears
  // the cancel flag, as loading any window does.
  auto window = terminal_.LoadProgressWindow();
  if (!terminal_.DrawsProgress()) return window;
  return std::make_unique<NotedWindow>(std::move(window));
}

void CliPresenter::ShowMessage(const std::string& text) {
  messages_.push_back(text);
  // Through the terminal presenter, so a progress line on screen is moved
  // below the message instead of being written over.
  if (!json_) terminal_.ShowMessage(TerminalText(text));
}

}  // namespace qelcli

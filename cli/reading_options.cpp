#include "reading_options.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace qelcli {

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kReadingSwitches = {"decimal-comma", "no-header"};
const std::vector<std::string> kReadingValues = {"delimiter", "na", "thousands"};

// Standard input, copied to a file of its own so that the text provider can
// scan it, and read it again, like any file. The folder goes when the program
// ends (a static's destructor runs after main returns, error or not).
class StdinCopy {
 public:
  StdinCopy() {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "qelstats-stdin-XXXXXX").string();
    if (ec || !::mkdtemp(pattern.data()))
      throw UsageError("cannot make a temporary folder for standard input: " + std::string(std::strerror(errno)));
    folder_ = pattern;
    std::ofstream out(folder_ / "stdin", std::ios::binary);
    std::vector<char> buffer(1 << 20);
    std::size_t got;
    while (out && (got = std::fread(buffer.data(), 1, buffer.size(), stdin)) > 0)
      out.write(buffer.data(), static_cast<std::streamsize>(got));
    const bool read_failed = std::ferror(stdin) != 0;
    out.close();
    if (read_failed || !out)
      throw UsageError(std::string(read_failed ? "cannot read standard input" : "cannot keep standard input in ") +
                       (read_failed ? "" : folder_.string() + " (is the disk full?)"));
  }
  ~StdinCopy() {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  const fs::path& folder() const { return folder_; }

 private:
  fs::path folder_;
};

std::unique_ptr<StdinCopy> g_stdin;

// A character option's value as the text provider's key takes it: names for
// the characters a connection string cannot hold plainly, one character in
// braces otherwise.
std::string CharacterKey(const std::string& option, const std::string& value) {
  std::string v = value;
  std::transform(v.begin(), v.end(), v.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (v == "tab" || v == "\\t" || v == "\t") return "tab";
  if (v == "space" || v == " ") return "space";
  if (v == "comma" || v == "semicolon" || v == "pipe") return v;
  if (v == ";") return "semicolon";
  if (value.size() == 1 && value != "{" && value != "}") return "{" + value + "}";
  throw UsageError("option --" + option + " needs one character (or tab, space), not '" + value + "'");
}

bool IsTextConnection(const std::string& connection) {
  std::string lower = connection;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const auto first = lower.find_first_not_of(" \t");
  return lower.compare(first == std::string::npos ? 0 : first, 5, "text;") == 0 ||
         lower.find("microsoft text driver") != std::string::npos;
}

// A word for the shell: bare when it is plain, else in single quotes.
std::string ShellWord(const std::string& s) {
  const bool plain = !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '.' || c == '/' || c == '-' || c == '+' || c == ':' || c == '%';
  });
  if (plain) return s;
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A cell quoted in a one-line message: line breaks and tabs as blanks, long
// texts cut at a character boundary.
std::string CellForMessage(const std::string& text) {
  constexpr std::size_t kMax = 60;
  std::string out = text.substr(0, kMax);
  if (text.size() > kMax) {
    while (!out.empty() && (static_cast<unsigned char>(text[out.size()]) & 0xC0) == 0x80) out.pop_back();
    out += "...";
  }
  for (char& c : out)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return out;
}

std::string Trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

}  // namespace

std::vector<std::string> WithReadingFlags(std::vector<std::string> flags) {
  flags.insert(flags.end(), kReadingSwitches.begin(), kReadingSwitches.end());
  return flags;
}

std::vector<std::string> WithReadingOptions(std::vector<std::string> known) {
  known.insert(known.end(), kReadingValues.begin(), kReadingValues.end());
  return WithReadingFlags(std::move(known));
}

InputSpec ResolveReadInput(const Args& args) {
  InputSpec input;
  const auto csv = args.Get("csv");
  if (csv && *csv == "-") {
    if (args.Get("connection") || args.Get("source"))
      throw UsageError("give either --csv or --connection with --source, not both");
    if (!g_stdin) g_stdin = std::make_unique<StdinCopy>();
    input = InputSpec{"Text;DBQ=" + g_stdin->folder().string(), "select * from [stdin]"};
  } else {
    input = ResolveInput(args);
  }

  std::string keys;
  if (const auto v = args.Get("delimiter")) keys += ";Delimiter=" + CharacterKey("delimiter", *v);
  if (const auto v = args.Get("na")) {
    if (v->find_first_of("{}") != std::string::npos) throw UsageError("option --na cannot hold '{' or '}'");
    keys += ";NA={" + *v + "}";
  }
  if (args.Has("decimal-comma")) keys += ";DecimalSeparator=,";
  if (const auto v = args.Get("thousands")) keys += ";ThousandsSeparator=" + CharacterKey("thousands", *v);
  if (args.Has("no-header")) keys += ";Header=No";
  if (!keys.empty()) {
    if (!IsTextConnection(input.connection_string))
      throw UsageError("--delimiter, --na, --decimal-comma, --thousands and --no-header read text files only "
                       "(--csv, or a Text connection)");
    input.connection_string += keys;
  }
  return input;
}

std::string TextFieldNote(const std::string& field, const qeldata::NonNumericCells& cells) {
  const bool one = cells.count == 1;
  std::string note = field + " is text: " + std::to_string(cells.count) + " of " + std::to_string(cells.values) +
                     (one ? " cells is not a number (line " : " cells are not numbers (the first on line ") +
                     std::to_string(cells.first_line) + ": '" + CellForMessage(cells.first_text) + "')";
  const std::string token = Trimmed(cells.first_text);
  const bool has_digit = std::any_of(token.begin(), token.end(), [](unsigned char c) { return std::isdigit(c); });
  const bool separators_only = std::all_of(token.begin(), token.end(), [](unsigned char c) {
    return std::isdigit(c) || c == '.' || c == ',' || c == ' ' || c == '\'' || c == '+' || c == '-';
  });
  if (has_digit && separators_only)
    note += "; --thousands SEP and --decimal-comma read numbers written with separators";
  else if (!has_digit && !token.empty() && token.find_first_of(",{}") == std::string::npos)
    note += "; --na " + ShellWord(token) + " reads it as missing";
  return note;
}

std::vector<std::string> TextFieldNotes(const qeldata::Fields& all, const std::vector<std::string>& fields) {
  std::vector<std::string> notes;
  for (const std::string& name : fields) {
    if (Trimmed(name).empty()) continue;
    const int ordinal = all.Find(Trimmed(name));
    if (ordinal < 0) continue;
    const qeldata::Field f = all.Item(ordinal);
    if (f.NonNumeric()) notes.push_back(TextFieldNote(f.Name(), *f.NonNumeric()));
  }
  return notes;
}

std::vector<std::string> TextFieldNotes(const InputSpec& input, const std::vector<std::string>& fields) {
  try {
    qeldata::Recordset rs;
    rs.SetCursorLocation(qeldata::adUseServer);
    rs.Open(input.source, input.connection_string, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
    return TextFieldNotes(rs.GetFields(), fields);
  } catch (const std::exception&) {
    return {};  // no note to add
  }
}

void PrintNotes(std::ostream& out, const std::vector<std::string>& notes) {
  for (const std::string& note : notes) out << TerminalText(note) << '\n';
}


}  // namespace qelcli

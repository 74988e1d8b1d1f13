// Shared pieces of the qelstats subcommands: options, input, output.
#pragma once

#include <signal.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qelStatsLib/presenter.h"
#include "qelStatsLib/terminal_presenter.h"
#include "qeldata/recordset.h"

namespace qelcli {

// Exit statuses of the command-line contract.
inline constexpr int kExitRan = 0;        // the analysis ran
inline constexpr int kExitRunFailed = 1;  // Run reported failure
inline constexpr int kExitUsage = 2;      // usage or input error

// A usage or input error: printed as one line on stderr, exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parsed "--name value" options and "--flag" switches, plus positional words.
class Args {
 public:
  // `flags` lists the switches that take no value ("json", "no-progress", ...).
  // Throws UsageError for a switch given a value ("--json=no") and for an
  // option given twice: neither may be silently read one way.
  Args(const std::vector<std::string>& argv, const std::vector<std::string>& flags);
  bool Has(const std::string& name) const;
  std::optional<std::string> Get(const std::string& name) const;
  std::string Require(const std::string& name) const;  // throws UsageError when missing
  double RequireNumber(const std::string& name) const;
  const std::vector<std::string>& positional() const { return positional_; }
  // Throws UsageError for an option not in `known` (flags included).
  void AllowOnly(const std::vector<std::string>& known) const;

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::string> switches_;
  std::vector<std::string> positional_;
};

// Switches that every command accepts, to pass to Args with the command's own:
// Args args(argv, WithCommonFlags({"categorical"})).
inline const std::vector<std::string> kCommonFlags = {"json", "no-progress"};
std::vector<std::string> WithCommonFlags(std::vector<std::string> flags = {});

// Where the data comes from: --csv PATH, or --connection STR --source STR.
struct InputSpec {
  std::string connection_string;
  std::string source;
};
// Throws UsageError when neither or both forms are given or the CSV file is missing.
// The folder and the file name of --csv are quoted, so any name reads that
// one file; a missing file, a folder, a FIFO or a link loop is named as such.
InputSpec ResolveInput(const Args& args);
// For a --csv file without a data row (a header only), the reason a user can
// act on ("the file x.csv has no data rows, ..."); nullopt otherwise.
std::optional<std::string> EmptyFileNote(const Args& args, const InputSpec& input);

// A minimal JSON writer for one object of result keys.
class JsonObject {
 public:
  void Add(const std::string& key, double value);  // shortest round-trip form; NaN/inf as null
  void Add(const std::string& key, bool value);
  void Add(const std::string& key, const std::string& value);
  void AddNull(const std::string& key);
  void AddRaw(const std::string& key, const std::string& json);
  // The recordset as JsonRecordset writes it, written row by row when the
  // object is written: a table of millions of rows is never held as text.
  void AddRecordset(const std::string& key, qeldata::Recordset& rs);
  std::string str() const;
  void Write(std::ostream& out) const;

 private:
  std::vector<std::pair<std::string, std::string>> members_;
  std::vector<qeldata::Recordset*> recordsets_;  // per member: written from this table when set
};
// `s` as a JSON string: control characters (DEL and C1 included) as \u
// escapes, each byte that is not part of well-formed UTF-8 as U+FFFD, counted
// in JsonReplacedBytes().
std::string JsonString(const std::string& s);
std::size_t JsonReplacedBytes();
std::string JsonNumber(double x);
// {"columns": [...], "rows": [[...], ...]} of a recordset read from its first row.
std::string JsonRecordset(qeldata::Recordset& rs);
void WriteJsonRecordset(std::ostream& out, qeldata::Recordset& rs);
// Tells the user on stderr, in one line, before a result table of more than
// a million rows is written: such a table (one row per distinct value) takes
// long to write and much space to keep.
void WarnOfLargeTable(std::ostream& err, const char* command, qeldata::Recordset& rs, std::int64_t limit = 1000000);
// ["text", ...]
std::string JsonStrings(const std::vector<std::string>& texts);

// Text from the data or the user made safe for a terminal: a control
// character (C0, DEL) or a byte that is not UTF-8 is shown as \xNN, a C1
// control as \uNNNN; everything else, backslashes included, is unchanged.
// Every name, value and message of the text output passes through here.
std::string TerminalText(std::string_view s);

// The one check of what was written. CheckStandardOutput, at the start of
// the program, sends std::cout through a buffer that keeps the first write
// error; FinishOutput flushes it and, when a write failed (a full disk,
// /dev/full, a closed stdout), says so on stderr with the reason and returns
// false (exit status 2). It also notes replaced non-UTF-8 bytes on stderr.
void CheckStandardOutput();
bool FinishOutput(const std::string& command);

// A readable two-column table of named results.
void PrintProperties(std::ostream& out, const std::vector<std::pair<std::string, std::string>>& rows);
// A recordset as an aligned text table, read from its first row.
void PrintRecordset(std::ostream& out, qeldata::Recordset& rs);
// The text of a number for people: up to 15 significant digits.
std::string HumanNumber(double x);

// The presenter a command installs for its run: it records the message-box
// texts for "messages" (and prints them on stderr without --json), and draws
// the terminal progress line on stderr, when stderr is a terminal, unless
// --no-progress. Install it for the run with qel::ScopedPresenter.
class CliPresenter : public qel::Presenter {
 public:
  // While it draws the progress line, SIGINT and SIGTERM erase the line
  // before the process dies of them.
  CliPresenter(bool json, bool progress);
  ~CliPresenter() override;
  CliPresenter(const CliPresenter&) = delete;
  CliPresenter& operator=(const CliPresenter&) = delete;
  // Reads --json and --no-progress.
  explicit CliPresenter(const Args& args);
  std::unique_ptr<qel::ProgressWindow> LoadProgressWindow() override;
  void ShowMessage(const std::string& text) override;
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  bool json_;
  qel::TerminalPresenter terminal_;
  bool handlers_installed_ = false;
  struct sigaction saved_actions_[2] = {};  // SIGINT, SIGTERM before this presenter
  std::vector<std::string> messages_;
};

// A subcommand: gets the words after its name, returns the exit status.
struct Command {
  std::string name;
  std::string usage;    // one line: "univariate --csv PATH --field NAME ..."
  std::string summary;  // what it does
  std::function<int(const std::vector<std::string>&)> run;
};
const std::vector<Command>& Commands();

int RunUnivariate(const std::vector<std::string>& argv);
int RunOutlier(const std::vector<std::string>& argv);
int RunBivariate(const std::vector<std::string>& argv);
int RunFn(const std::vector<std::string>& argv);
int RunFields(const std::vector<std::string>& argv);
int RunDescribe(const std::vector<std::string>& argv);
int RunFreq(const std::vector<std::string>& argv);
int RunCompletion(const std::vector<std::string>& argv);

}  // namespace qelcli

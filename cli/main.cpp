// qelstats: the library's analyses from the command line.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <string>
#include <vector>

#include "cli_common.h"

namespace qelcli {

int RunReport(const std::vector<std::string>& argv);  // cmd_report.cpp

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"univariate",
       "univariate --csv PATH --field NAME [--weight NAME] [--where COND] [--by NAME] [--percentiles 1,5,95,99] "
       "[--in-database] [--json]",
       "descriptive statistics of one numeric field", RunUnivariate},
      {"outlier",
       "outlier --csv PATH --field NAME [--weight NAME] [--rule std|tmean] [--parm X] [--only-outliers] [--where COND] "
       "[--by NAME] [--in-database] [--json]",
       "outlying values by a standard-deviation band or a trimmed-mean band", RunOutlier},
      {"bivariate",
       "bivariate --csv PATH --predictor NAME --target NAME [--weight NAME] [--bins N] [--categorical] [--where COND] "
       "[--by NAME] [--in-database] [--json]",
       "segmentation of a predictor against a target, with PSI and DI", RunBivariate},
      {"fn", "fn NAME ARG... [--json] | fn --list [--json]",
       "one scalar function; the result in shortest round-trip form, -9999999 when the function fails",
       RunFn},
      {"fields", "fields --csv PATH [--json]", "the fields of a table with their type codes", RunFields},
      {"report",
       "report --csv PATH [--target NAME] [--weight NAME] [--bins N] [--fields A,B,...] -o FILE.html",
       "a self-contained HTML profile of every field, with charts; with a target, ranked by DI (--bins default 10)",
       RunReport},
      {"completion", "completion bash", "a bash completion script: eval \"$(qelstats completion bash)\"",
       RunCompletion},
      {"describe",
       "describe --csv PATH [--fields A,B,C] [--weight NAME] [--where COND] [--by NAME] [--percentiles 1,5,95,99] "
       "[--json]",
       "every field in one pass: numbers as the univariate run gives them, texts and dates by their values",
       RunDescribe},
      {"freq", "freq --csv PATH --field NAME [--weight NAME] [--where COND] [--top N] [--order count|value] [--json]",
       "the distinct values of a field with their count, weight, share and cumulative share", RunFreq},
  };
  return commands;
}

namespace {

void PrintHelp(std::ostream& out) {
  out << "Usage: qelstats COMMAND [OPTIONS]    qelstats --version\n\nCommands:\n";
  for (const auto& c : Commands()) out << "  qelstats " << c.usage << "\n      " << c.summary << "\n";
  out << "\nInput: --connection STR --source STR may replace --csv PATH everywhere.\n"
         "  --csv PATH reads the file through the text provider over its folder.\n"
         "  --csv - reads standard input.\n"
         "  Text files: --delimiter C (',' ';' tab '|' ...; detected from the first line when not given:\n"
         "  the most frequent of , ; tab | outside quotes, ties to ','), --na NA,N/A,. (cells read as missing),\n"
         "  --decimal-comma, --thousands SEP (numbers like 1.234,5), --no-header (fields named F1, F2, ...).\n"
         "  SQLite:  --connection 'Driver=SQLite3;Database=FILE' --source TABLE|SQL\n"
         "  ODBC:    --connection 'Driver={PostgreSQL Unicode};Server=...;Database=...;Uid=...;Pwd=...;'\n"
         "  --in-database (univariate, outlier, bivariate; SQLite and ODBC only): one group-by in the database\n"
         "  instead of reading every record; counts and order statistics agree exactly, fractional sums to 1e-12.\n"
         "\nOptions of the analyses:\n"
         "  --field NAME        the field to analyse (univariate, outlier, freq)\n"
         "  --weight NAME       a numeric field weighting each record; a record whose value or weight is null\n"
         "                      counts in Missing. Negative weights are accepted, with a warning where they make\n"
         "                      the table hard to read.\n"
         "  --rule std|tmean    outlier rule (default std):\n"
         "                      std   flags the values outside Mean - X*Stdev .. Mean + X*Stdev (X = --parm, any\n"
         "                            number; 0 or less flags every value off the mean, with a warning)\n"
         "                      tmean flags the values outside a band of +-X/2 percent around the mean left after\n"
         "                            trimming X percent of the weight, half from each end (X from 1 to 100)\n"
         "  --parm X            the rule's parameter (default 1)\n"
         "  --only-outliers     list only the values flagged as outliers\n"
         "  --predictor NAME    bivariate: the field cut into bins (a text or date field is categorical)\n"
         "  --target NAME       bivariate: the numeric field whose mean is compared across the bins\n"
         "  --bins N            bivariate: the largest number of bins, of about equal weight (default 20)\n"
         "  --categorical       bivariate: one bin per distinct predictor value\n"
         "                      PSI (power of segmentation): the weighted standard deviation of the bins' target\n"
         "                      means around the overall target mean; larger means a stronger predictor.\n"
         "                      DI (discontinuity): the percentage of pairs of bins whose target means fall as the\n"
         "                      predictor rises; 0 for a rising, 100 for a falling relation.\n"
         "  --fields A,B,C      describe: the fields to describe (default every field)\n"
         "  --percentiles L,... levels in percent: the first value whose cumulative share of the weight reaches\n"
         "                      the level, the rule of the quartiles (univariate, describe)\n"
         "  --top N             freq: the N most frequent values only\n"
         "  --order count|value freq: most frequent first (default) or in value order\n"
         "Rows and groups:\n"
         "  --where COND        an SQL condition on the rows (\"League = 'NL'\"); one condition, no ';'\n"
         "  --by NAME           one result per value of NAME, every group in one pass, groups sorted\n"
         "                      (univariate, outlier, bivariate, describe); each group's figures are those\n"
         "                      of the run with --where \"NAME = value\"\n"
         "Output: a readable table, or one JSON object with --json. On a terminal a progress line on stderr shows\n"
         "  the share of the file read, then each phase; --no-progress turns it off.\n"
         "  --format table|json|csv|markdown   (--json is --format json)\n"
         "  --precision N       significant digits of table and markdown numbers (default 7; JSON and CSV carry\n"
         "                      every digit, in shortest round-trip form)\n"
         "  A misspelled field gets the closest names. Completion: eval \"$(qelstats completion bash)\"\n"
         "  In the table, control characters show as \\x1b (C1 controls as \\u009b, bytes that are not UTF-8\n"
         "  as \\xff); JSON writes such bytes as U+FFFD and says how many on stderr.\n"
         "Exit status: 0 the analysis ran, 1 Run reported failure, 2 usage or input error.\n";
}

// A standard stream the caller closed ("qelstats ... >&-") would be the
// number the next opened file gets, and output meant for it would go there.
// Park /dev/null on it instead, opened so that writes fail (EBADF) and the
// failure is reported.
void ParkClosedStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int parked = ::open("/dev/null", O_RDONLY);
    if (parked >= 0 && parked != fd) {
      ::dup2(parked, fd);
      ::close(parked);
    }
  }
}

int Fail(const std::string& command, const std::string& what) {
  std::cerr << "qelstats" << (command.empty() ? "" : " " + command) << ": " << TerminalText(what) << '\n';
  return kExitUsage;
}

int RunCommand(const Command& c, const std::vector<std::string>& rest) {
  try {
    return c.run(rest);
  } catch (const std::exception& e) {
    // Usage errors, input errors of the data layer, and anything else a run
    // raised: one line on stderr.
    return Fail(c.name, e.what());
  }
}

}  // namespace
}  // namespace qelcli

int main(int argc, char** argv) {
  using namespace qelcli;
  ParkClosedStreams();
  CheckStandardOutput();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--version" || args[0] == "-V" || args[0] == "version")) {
    std::cout << "qelstats " << QEL_VERSION << '\n';
    return FinishOutput("") ? kExitRan : kExitUsage;
  }
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintHelp(args.empty() ? std::cerr : std::cout);
    if (!FinishOutput("")) return kExitUsage;
    return args.empty() ? kExitUsage : kExitRan;
  }
  for (const auto& c : Commands()) {
    if (c.name != args[0]) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    int status = kExitRan;
    if (std::find(rest.begin(), rest.end(), "--help") != rest.end() ||
        std::find(rest.begin(), rest.end(), "-h") != rest.end())
      std::cout << "Usage: qelstats " << c.usage << "\n" << c.summary << "\n(qelstats --help explains every option)\n";
    else
      status = RunCommand(c, rest);
    // Output that never arrived is no success, whatever the run said.
    return FinishOutput(c.name) ? status : kExitUsage;
  }
  return Fail("", "unknown command '" + args[0] + "' (see qelstats --help)");
}

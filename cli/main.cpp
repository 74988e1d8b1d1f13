// qelstats: the library's analyses from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "cli_common.h"
#include "qeldata/error.h"

namespace qelcli {

int RunReport(const std::vector<std::string>& argv);  // cmd_report.cpp

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"univariate", "univariate --csv PATH --field NAME [--weight NAME] [--json]",
       "descriptive statistics of one numeric field", RunUnivariate},
      {"outlier", "outlier --csv PATH --field NAME [--weight NAME] --rule std|tmean --parm X [--json]",
       "outlying values by a standard-deviation band or a trimmed-mean band", RunOutlier},
      {"bivariate",
       "bivariate --csv PATH --predictor NAME --target NAME [--weight NAME] --bins N [--categorical] [--json]",
       "segmentation of a predictor against a target, with PSI and DI", RunBivariate},
      {"fn", "fn NAME ARG... [--json] | fn --list [--json]",
       "one scalar function; the result in shortest round-trip form, -9999999 when the function fails",
       RunFn},
      {"fields", "fields --csv PATH [--json]", "the fields of a table with their type codes", RunFields},
      {"report",
       "report --csv PATH [--target NAME] [--weight NAME] [--bins N] [--fields A,B,...] -o FILE.html",
       "a self-contained HTML profile of every field, with charts; with a target, ranked by DI (--bins default 10)",
       RunReport},
  };
  return commands;
}

namespace {

void PrintHelp(std::ostream& out) {
  out << "Usage: qelstats COMMAND [OPTIONS]\n\nCommands:\n";
  for (const auto& c : Commands()) out << "  qelstats " << c.usage << "\n      " << c.summary << "\n";
  out << "\nInput: --connection STR --source STR may replace --csv PATH everywhere.\n"
         "  --csv PATH reads the file through the text provider over its folder.\n"
         "  SQLite:  --connection 'Driver=SQLite3;Database=FILE' --source TABLE|SQL\n"
         "  ODBC:    --connection 'Driver={PostgreSQL Unicode};Server=...;Database=...;Uid=...;Pwd=...;'\n"
         "Output: a readable table, or one JSON object with --json. --no-progress turns the progress line off.\n"
         "Exit status: 0 the analysis ran, 1 Run reported failure, 2 usage or input error.\n";
}

}  // namespace
}  // namespace qelcli

int main(int argc, char** argv) {
  using namespace qelcli;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintHelp(args.empty() ? std::cerr : std::cout);
    return args.empty() ? kExitUsage : kExitRan;
  }
  for (const auto& c : Commands()) {
    if (c.name != args[0]) continue;
    std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const auto& a : rest)
      if (a == "--help" || a == "-h") {
        std::cout << "Usage: qelstats " << c.usage << "\n" << c.summary << "\n";
        return kExitRan;
      }
    try {
      return c.run(rest);
    } catch (const UsageError& e) {
      std::cerr << "qelstats " << c.name << ": " << e.what() << "\n";
      return kExitUsage;
    } catch (const qeldata::Error& e) {
      std::cerr << "qelstats " << c.name << ": " << e.what() << "\n";
      return kExitUsage;
    } catch (const std::exception& e) {
      std::cerr << "qelstats " << c.name << ": " << e.what() << "\n";
      return kExitUsage;
    }
  }
  std::cerr << "qelstats: unknown command '" << args[0] << "' (see qelstats --help)\n";
  return kExitUsage;
}

// The Python module's one door into the library. Everything the bindings call
// goes through here, in plain C++ types (spans of doubles, texts, named
// numbers, tables of cells); behind it is the library's public API (qel/),
// so the bindings never see the library's types.
//
//   qelpy::Hooks hooks;                    // progress and interruption, optional
//   qelpy::Column values = qelpy::Column::Numbers(span);
//   qelpy::Outcome r = qelpy::RunColumns(qelpy::Analysis::kUnivariate, {}, values, {}, {}, hooks);
//   if (r.ok) use(r.stats);
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace qelpy {

enum class Analysis { kUnivariate, kOutlier, kBivariate };

// A cell of a result table: null, a number, a text or a flag.
using Cell = std::variant<std::monostate, double, std::string, bool>;

struct Table {
  std::vector<std::string> columns;
  std::vector<std::vector<Cell>> rows;
};

// What an analysis gave: what Run returned, why it stopped when it did, the
// results under the classes' property names in their reading order, the
// result table (outlier and bivariate), and the texts of the messages the
// run showed.
struct Outcome {
  bool ok = false;
  std::string reason;
  std::vector<std::pair<std::string, double>> stats;
  std::optional<bool> categorical;  // bivariate only
  std::optional<Table> table;
  std::vector<std::string> messages;
};

struct Options {
  // Names used for the table's columns (bivariate: "Min <predictor>", "Mean <target>").
  std::string field = "value";
  std::string weight;  // empty: unweighted (arrays: set when weights are given)
  std::string target = "target";
  std::int32_t rule = 1;  // outlier: 1 standard-deviation band, 2 trimmed-mean band
  double parm = 2;
  std::int16_t bins = 10;
  bool categorical = false;  // bivariate: force one bin per value
};

// One column of input. Numbers: NaN is a missing value. Texts (a text or a
// date predictor): a missing value is an absent optional.
// Whole numbers (int64) are read as they lie too; they are never missing.
struct Column {
  std::span<const double> numbers;
  const std::vector<std::optional<std::string>>* texts = nullptr;
  bool dates = false;  // texts are ISO dates (YYYY-MM-DD[ HH:MM:SS])
  std::span<const std::int64_t> integers;
  bool is_integers = false;
  std::size_t size() const { return texts ? texts->size() : is_integers ? integers.size() : numbers.size(); }
  static Column Numbers(std::span<const double> v) { return Column{v, nullptr, false, {}, false}; }
  static Column Integers(std::span<const std::int64_t> v) { return Column{{}, nullptr, false, v, true}; }
};

// How a run talks back to its host, called on the running thread without
// any lock held. `progress` gets the phase and the bar (0..99); `interrupted`
// is asked at each checkpoint and stops the run when it returns true. The
// checkpoints: before and after each analysis, and while arrays are tallied,
// between blocks of about a million values.
struct Hooks {
  std::function<void(const std::string& phase, int bar)> progress;
  std::function<bool()> interrupted;
};

// Raised when `interrupted` stopped a run.
struct Interrupted {};

// Raised for a field or column of a type the analysis cannot use.
struct WrongType : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// The analysis of a table of a connection (a CSV folder, an SQLite file, an
// ODBC database), in record order. Throws std::invalid_argument for input
// errors (a blank name, a missing file, an unknown table or field, a value
// that is no number), TypeError-like std::domain_error for a field of the
// wrong type.
Outcome RunTable(Analysis analysis, const std::string& connection, const std::string& source, const Options& options,
                 const Hooks& hooks);

// The analysis of columns in memory. `weights` empty: unweighted. `target`
// is the bivariate target. REQUIRES: weights and target empty or as long as
// `values`, and every number finite or NaN.
Outcome RunColumns(Analysis analysis, const Options& options, const Column& values, std::span<const double> weights,
                   std::span<const double> target, const Hooks& hooks);

// Tallies for a cluster: a partition's tally as bytes, two tallies' bytes
// merged, and the finish of merged bytes. `kind` is the analysis the tally
// is for (the univariate and outlier analyses share one kind of tally).
std::vector<unsigned char> TallyBytes(Analysis analysis, const Column& values, std::span<const double> weights,
                                      std::span<const double> target);
std::vector<unsigned char> MergeTallyBytes(Analysis analysis, std::span<const unsigned char> a,
                                           std::span<const unsigned char> b);
Outcome FinishTallyBytes(Analysis analysis, const Options& options, std::span<const unsigned char> bytes,
                         const Hooks& hooks);

// The 22 scalar functions by name; each returns -9999999 where it fails.
// `arity` is 1, 2 (LogN) or 4 (Dist_Fctn).
struct Function {
  std::string name;
  int arity;
  std::vector<std::string> arguments;  // the arguments' names
  std::string help;
};
const std::vector<Function>& Functions();
// Calls Functions()[index]. REQUIRES: args.size() == its arity.
double CallFunction(std::size_t index, std::span<const double> args);

}  // namespace qelpy

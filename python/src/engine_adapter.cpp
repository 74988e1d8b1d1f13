// The module's door into the library (see engine_adapter.h), over the public
// API of qel/. The analyses over tables are the API's; arrays are tallied
// here block by block, in array order, and the API finishes the tally, as
// its analyses over arrays do: the results are the record-order definitions'
// bit for bit. The blocks let the host show progress and interrupt between
// them, and let int64 arrays be read in place.
#include "engine_adapter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "qel/qel.h"

namespace qelpy {

namespace {

// Values between two checkpoints while a tally fills: about a hundredth of a
// second of work.
constexpr std::size_t kBlock = 1 << 20;

void Checkpoint(const Hooks& hooks) {
  if (hooks.interrupted && hooks.interrupted()) throw Interrupted{};
}

// The host's `interrupted` as the library's cancellation, which the runs ask
// at their own checkpoints too.
std::function<bool()> StopOf(const Hooks& hooks) {
  return [&hooks] { return hooks.interrupted && hooks.interrupted(); };
}

// Runs a call of the API, turning its one exception type into the adapter's.
template <typename Fn>
auto Call(Fn fn) -> decltype(fn()) {
  try {
    return fn();
  } catch (const qel::Error& e) {
    if (e.code() == qel::ErrorCode::kCancelled) throw Interrupted{};
    if (e.code() == qel::ErrorCode::kFieldType) throw WrongType(e.what());
    throw std::invalid_argument(e.what());
  }
}

// ---- Results ----

Outcome Of(const qel::UnivariateResult& r) {
  Outcome out;
  out.ok = r.Complete;
  out.reason = r.Reason;
  out.stats = {{"N", r.N},         {"WgtN", r.WgtN},       {"Missing", r.Missing},
               {"Sum", r.Sum},     {"Mean", r.Mean},       {"Variance", r.Variance},
               {"Stdev", r.Stdev}, {"CV", r.CV},           {"Min", r.Min},
               {"Max", r.Max},     {"Range", r.Range},     {"Cardinality", r.Cardinality},
               {"Uniques", r.Uniques}, {"Mode", r.Mode},   {"Median", r.Median},
               {"Q1", r.Q1},       {"Q3", r.Q3},           {"IQR", r.IQR},
               {"TrimmedMean", r.TrimmedMean}, {"Skewness", r.Skewness}, {"Kurtosis", r.Kurtosis}};
  return out;
}

Outcome Of(const qel::OutlierResult& r) {
  Outcome out;
  out.ok = r.Complete;
  out.reason = r.Reason;
  out.stats = {{"N", r.N},
               {"WgtN", r.WgtN},
               {"Missing", r.Missing},
               {"Sum", r.Sum},
               {"SumWgt", r.SumWgt},
               {"Mean", r.Mean},
               {"Variance", r.Variance},
               {"Stdev", r.Stdev},
               {"Min", r.Min},
               {"Max", r.Max},
               {"Cardinality", r.Cardinality},
               {"Median", r.Median},
               {"Q1", r.Q1},
               {"Q3", r.Q3},
               {"TrimmedMean", r.TrimmedMean},
               {"OutlierCountN", r.OutlierCountN},
               {"OutlierCountWgt", r.OutlierCountWgt}};
  if (r.Complete) {
    Table t;
    t.columns = {"Value", "N", "Weighted N", "Outlier"};
    for (const qel::OutlierRow& row : r.Rows) {
      std::vector<Cell>& cells = t.rows.emplace_back();
      cells.emplace_back(row.Value);
      cells.emplace_back(row.N);
      cells.emplace_back(row.WeightedN);
      cells.emplace_back(row.Outlier);
    }
    out.table = std::move(t);
  }
  return out;
}

Cell PredictorCell(const qel::PredictorValue& v) {
  if (const double* d = std::get_if<double>(&v)) return Cell(std::in_place_type<double>, *d);
  return Cell(std::in_place_type<std::string>, std::get<std::string>(v));
}

Outcome Of(const qel::BivariateResult& r, const Options& options) {
  Outcome out;
  out.ok = r.Complete;
  out.reason = r.Reason;
  out.stats = {{"PSI", r.PSI},   {"DI", r.DI}, {"N", r.N}, {"Missing", r.Missing}, {"TargetMean", r.TargetMean},
               {"Cardinality", r.Cardinality}};
  out.categorical = r.Categorical;
  if (r.Complete) {
    Table t;
    t.columns = {"Bin", "N", "Min " + options.field, "Max " + options.field, "Mean " + options.target, "Index"};
    for (const qel::BivariateRow& row : r.Rows) {
      std::vector<Cell>& cells = t.rows.emplace_back();
      cells.emplace_back(static_cast<double>(row.Bin));
      cells.emplace_back(row.N);
      cells.push_back(PredictorCell(row.Min));
      cells.push_back(PredictorCell(row.Max));
      if (row.Mean) cells.emplace_back(*row.Mean); else cells.emplace_back(std::monostate{});
      if (row.Index) cells.emplace_back(static_cast<double>(*row.Index)); else cells.emplace_back(std::monostate{});
    }
    out.table = std::move(t);
  }
  return out;
}

qel::OutlierRule Rule(const Options& o) { return static_cast<qel::OutlierRule>(o.rule); }

// ---- Columns ----

// "YYYY-MM-DD[ HH:MM:SS]" as the API's date; the host formats them so.
std::optional<qel::Date> ParseDate(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  qel::Date d;
  int n = 0;
  if (std::sscanf(text->c_str(), "%d-%d-%d%n", &d.year, &d.month, &d.day, &n) != 3)
    throw std::invalid_argument("'" + *text + "' is no date");
  if (static_cast<std::size_t>(n) < text->size() &&
      std::sscanf(text->c_str() + n, " %d:%d:%d", &d.hour, &d.minute, &d.second) != 3)
    throw std::invalid_argument("'" + *text + "' is no date");
  return d;
}

// Fills `tally` from the column block by block, with a checkpoint and a
// progress report between blocks.
void FillValueTally(qel::ValueTally& tally, const Column& values, std::span<const double> weights,
                    const Hooks& hooks) {
  const std::size_t n = values.size();
  std::vector<double> buffer;
  for (std::size_t begin = 0; begin < n; begin += kBlock) {
    Checkpoint(hooks);
    const std::size_t len = std::min(kBlock, n - begin);
    std::span<const double> block;
    if (values.is_integers) {
      buffer.assign(values.integers.begin() + begin, values.integers.begin() + begin + len);
      block = buffer;
    } else {
      block = values.numbers.subspan(begin, len);
    }
    Call([&] { tally.AddArrays(block, weights.empty() ? weights : weights.subspan(begin, len)); });
    if (hooks.progress) hooks.progress("Reading Data", static_cast<int>(72.0 * (begin + len) / n));
  }
}

// Fills a segmentation tally from the columns block by block, as
// FillValueTally. Texts and dates make a categorical tally from the start,
// as the analysis treats such a predictor (so that every partition of a
// column gives a tally of the same kind, nulls only included).
qel::SegmentTally FillSegmentTally(const Column& predictor, std::span<const double> target,
                                   std::span<const double> weights, bool categorical, const Hooks& hooks) {
  const std::size_t n = predictor.size();
  if (target.size() != n)
    throw std::invalid_argument("target has " + std::to_string(target.size()) + " elements but the predictor has " +
                                std::to_string(n));
  if (!weights.empty() && weights.size() != n)
    throw std::invalid_argument("weights has " + std::to_string(weights.size()) +
                                " elements but the predictor has " + std::to_string(n));
  qel::SegmentTally tally(categorical || predictor.texts != nullptr);
  std::vector<double> buffer;
  for (std::size_t begin = 0; begin < n; begin += kBlock) {
    Checkpoint(hooks);
    const std::size_t len = std::min(kBlock, n - begin);
    const auto t = target.subspan(begin, len);
    const auto w = weights.empty() ? weights : weights.subspan(begin, len);
    Call([&] {
      if (predictor.texts && predictor.dates) {
        for (std::size_t i = begin; i < begin + len; ++i)
          tally.Add(ParseDate((*predictor.texts)[i]), target[i], weights.empty() ? 1.0 : weights[i]);
      } else if (predictor.texts) {
        tally.AddArrays(std::span(*predictor.texts).subspan(begin, len), t, w);
      } else if (predictor.is_integers) {
        buffer.assign(predictor.integers.begin() + begin, predictor.integers.begin() + begin + len);
        tally.AddArrays(buffer, t, w);
      } else {
        tally.AddArrays(predictor.numbers.subspan(begin, len), t, w);
      }
    });
    if (hooks.progress) hooks.progress("Reading Data", static_cast<int>(69.0 * (begin + len) / n));
  }
  return tally;
}

// ---- Tally bytes: one leading byte names the kind ----

constexpr unsigned char kValueKind = 'V', kSegmentKind = 'S';

std::vector<unsigned char> Tagged(unsigned char kind, const std::vector<std::uint8_t>& bytes) {
  std::vector<unsigned char> out;
  out.reserve(bytes.size() + 1);
  out.push_back(kind);
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

unsigned char KindOf(Analysis analysis) { return analysis == Analysis::kBivariate ? kSegmentKind : kValueKind; }

std::span<const std::uint8_t> Body(Analysis analysis, std::span<const unsigned char> bytes) {
  if (bytes.empty() || bytes[0] != KindOf(analysis))
    throw std::invalid_argument(analysis == Analysis::kBivariate ? "bytes that are no segmentation tally"
                                                                 : "bytes that are no value tally");
  return bytes.subspan(1);
}

}  // namespace

// ---- Public ----

Outcome RunTable(Analysis analysis, const std::string& connection, const std::string& source, const Options& options,
                 const Hooks& hooks) {
  Checkpoint(hooks);
  const qel::Cancellation cancel(StopOf(hooks));
  if (hooks.progress) hooks.progress("Reading Data", 0);
  Outcome out = Call([&] {
    const qel::Table table = qel::Table::Open(connection, source);
    switch (analysis) {
      case Analysis::kUnivariate:
        return Of(qel::Univariate(table, options.field, options.weight));
      case Analysis::kOutlier:
        return Of(qel::Outlier(table, options.field, options.weight, Rule(options), options.parm));
      case Analysis::kBivariate:
        break;
    }
    return Of(qel::Bivariate(table, options.field, options.target, options.weight, options.bins, options.categorical),
              options);
  });
  Checkpoint(hooks);
  if (hooks.progress) hooks.progress("Done", 99);
  return out;
}

Outcome RunColumns(Analysis analysis, const Options& options, const Column& values, std::span<const double> weights,
                   std::span<const double> target, const Hooks& hooks) {
  Checkpoint(hooks);
  const qel::Cancellation cancel(StopOf(hooks));
  Outcome out;
  switch (analysis) {
    case Analysis::kUnivariate:
    case Analysis::kOutlier: {
      if (values.texts) throw WrongType("Numeric Data types only");
      qel::ValueTally tally;
      FillValueTally(tally, values, weights, hooks);
      Checkpoint(hooks);
      const bool univariate = analysis == Analysis::kUnivariate;
      if (hooks.progress) hooks.progress(univariate ? "Building Summary Statistics" : "Calculating Statistics", 73);
      if (univariate)
        out = Call([&] { return Of(qel::Univariate(tally)); });
      else
        out = Call([&] { return Of(qel::Outlier(tally, Rule(options), options.parm)); });
      break;
    }
    case Analysis::kBivariate: {
      const qel::SegmentTally tally = FillSegmentTally(values, target, weights, options.categorical, hooks);
      Checkpoint(hooks);
      if (hooks.progress) hooks.progress("Building Cummulative Counts", 70);
      out = Call([&] { return Of(qel::Bivariate(tally, options.bins), options); });
      break;
    }
  }
  Checkpoint(hooks);
  if (hooks.progress) hooks.progress("Done", 99);
  return out;
}

std::vector<unsigned char> TallyBytes(Analysis analysis, const Column& values, std::span<const double> weights,
                                      std::span<const double> target, bool categorical) {
  return Call([&] {
    if (analysis != Analysis::kBivariate) {
      if (values.texts) throw WrongType("Numeric Data types only");
      qel::ValueTally tally;
      FillValueTally(tally, values, weights, Hooks{});
      return Tagged(kValueKind, tally.Serialize());
    }
    return Tagged(kSegmentKind, FillSegmentTally(values, target, weights, categorical, Hooks{}).Serialize());
  });
}

std::vector<unsigned char> MergeTallyBytes(Analysis analysis, std::span<const unsigned char> a,
                                           std::span<const unsigned char> b) {
  return Call([&] {
    if (analysis == Analysis::kBivariate) {
      auto t = qel::SegmentTally::Deserialize(Body(analysis, a));
      t.Merge(qel::SegmentTally::Deserialize(Body(analysis, b)));
      return Tagged(kSegmentKind, t.Serialize());
    }
    auto t = qel::ValueTally::Deserialize(Body(analysis, a));
    t.Merge(qel::ValueTally::Deserialize(Body(analysis, b)));
    return Tagged(kValueKind, t.Serialize());
  });
}

Outcome FinishTallyBytes(Analysis analysis, const Options& options, std::span<const unsigned char> bytes,
                         const Hooks& hooks) {
  Checkpoint(hooks);
  const qel::Cancellation cancel(StopOf(hooks));
  Outcome out = Call([&] {
    switch (analysis) {
      case Analysis::kUnivariate:
        return Of(qel::Univariate(qel::ValueTally::Deserialize(Body(analysis, bytes))));
      case Analysis::kOutlier:
        return Of(qel::Outlier(qel::ValueTally::Deserialize(Body(analysis, bytes)), Rule(options), options.parm));
      case Analysis::kBivariate:
        break;
    }
    return Of(qel::Bivariate(qel::SegmentTally::Deserialize(Body(analysis, bytes)), options.bins), options);
  });
  return out;
}

// ---- Functions ----

namespace {

template <double (*F)(double) noexcept>
double One(const double* a) {
  return F(a[0]);
}
double LogNOf(const double* a) { return qel::LogN(a[0], a[1]); }
double DistOf(const double* a) { return qel::Dist_Fctn(a[0], a[1], a[2], a[3]); }

struct Entry {
  Function f;
  double (*call)(const double*);
};

const char* const kRadians = "Input Degrees in Radians to obtain value";

const std::vector<Entry>& Entries() {
  static const std::vector<Entry> entries = {
      {{"ArcSin", 1, {"x"}, kRadians}, One<qel::ArcSin>},
      {{"Secant", 1, {"x"}, kRadians}, One<qel::Secant>},
      {{"CoSec", 1, {"x"}, kRadians}, One<qel::CoSec>},
      {{"CoTan", 1, {"x"}, kRadians}, One<qel::CoTan>},
      {{"ArcCos", 1, {"x"}, kRadians}, One<qel::ArcCos>},
      {{"ArcCosSec", 1, {"x"}, kRadians}, One<qel::ArcCosSec>},
      {{"ArcCoTan", 1, {"x"}, kRadians}, One<qel::ArcCoTan>},
      {{"HSin", 1, {"x"}, kRadians}, One<qel::HSin>},
      {{"HCos", 1, {"x"}, kRadians}, One<qel::HCos>},
      {{"HTan", 1, {"x"}, kRadians}, One<qel::HTan>},
      {{"HSec", 1, {"x"}, kRadians}, One<qel::HSec>},
      {{"HCoSec", 1, {"x"}, kRadians}, One<qel::HCoSec>},
      {{"HCoTan", 1, {"x"}, kRadians}, One<qel::HCoTan>},
      {{"HArcsin", 1, {"x"}, kRadians}, One<qel::HArcsin>},
      {{"HArccos", 1, {"x"}, kRadians}, One<qel::HArccos>},
      {{"HArctan", 1, {"x"}, kRadians}, One<qel::HArctan>},
      {{"HArcsec", 1, {"x"}, kRadians}, One<qel::HArcsec>},
      {{"HArcCoSec", 1, {"x"}, kRadians}, One<qel::HArcCoSec>},
      {{"HArcCoTan", 1, {"x"}, kRadians}, One<qel::HArcCoTan>},
      {{"LogN", 2, {"x", "N"}, "Base N log of X"}, LogNOf},
      {{"DTOR", 1, {"x"},
        "Returns a value in Radians for the input degree value.  This is necessary for the calculation of certain "
        "other variable values."},
       One<qel::DTOR>},
      {{"Dist_Fctn", 4, {"lat1", "long1", "lat2", "long2"},
        "Returns statute miles from an input pair of Latitude and Longitude degree points. Internal functions "
        "convert the degrees to radians for calculations. No prior conversion is needed."},
       DistOf},
  };
  return entries;
}

}  // namespace

const std::vector<Function>& Functions() {
  static const std::vector<Function> functions = [] {
    std::vector<Function> out;
    for (const Entry& e : Entries()) out.push_back(e.f);
    return out;
  }();
  return functions;
}

double CallFunction(std::size_t index, std::span<const double> args) { return Entries()[index].call(args.data()); }

}  // namespace qelpy

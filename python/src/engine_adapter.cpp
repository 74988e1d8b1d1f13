// The module's door into the engine (see engine_adapter.h).
//
// Columns in memory go through the tally wherever the engine finishes one
// (the univariate analysis): the arrays are read where they lie, in array
// order, which is the record order of the definitions, so the results are
// those of a table with the same rows bit for bit. The other analyses read
// the columns through an in-memory recordset and the library's classes,
// exactly as they read a table.
#include "engine_adapter.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <type_traits>

#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/QelOutlier.h"
#include "qelStatsLib/QelStatFctn.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/modUnivariate.h"
#include "qelStatsLib/presenter.h"
#include "qelStatsLib/tally.h"
#include "qeldata/error.h"
#include "qeldata/recordset.h"

namespace qelpy {

namespace {

// Rows between two looks at `Hooks::interrupted` while a tally fills: about
// a hundredth of a second of work.
constexpr std::size_t kCheckpointRows = 1 << 20;

// ---- Talking back to the host ----

class HookWindow final : public qel::ProgressWindow {
 public:
  explicit HookWindow(const Hooks& hooks) : hooks_(hooks) {}
  void SetCaption(const std::string&) override {}
  void SetStatus(const std::string& text) override {
    status_ = text;
    Report();
  }
  void SetBarValue(int value) override {
    bar_ = value;
    Report();
  }
  void ShowTopMost() override {}
  void Refresh() override {}

 private:
  void Report() {
    if (hooks_.progress) hooks_.progress(status_, bar_);
  }
  const Hooks& hooks_;
  std::string status_;
  int bar_ = 0;
};

// The presenter of a run started from Python: phases go to the progress hook,
// message texts are kept for the outcome, and a checkpoint asks the host
// whether the user interrupted (Ctrl-C), which cancels the run there.
class HookPresenter final : public qel::Presenter {
 public:
  explicit HookPresenter(const Hooks& hooks) : hooks_(hooks) {}
  std::unique_ptr<qel::ProgressWindow> LoadProgressWindow() override {
    qel::CancelFlag() = false;
    return std::make_unique<HookWindow>(hooks_);
  }
  void ShowMessage(const std::string& text) override { messages_.push_back(text); }
  void ProcessEvents() override {
    if (hooks_.interrupted && hooks_.interrupted()) {
      interrupted_ = true;
      qel::CancelFlag() = true;
    }
  }
  bool interrupted() const { return interrupted_; }
  std::vector<std::string> TakeMessages() { return std::move(messages_); }

 private:
  const Hooks& hooks_;
  std::vector<std::string> messages_;
  bool interrupted_ = false;
};

// ---- Results ----

std::vector<std::pair<std::string, double>> UnivariateStats(const qel::UnivariateRecord& r) {
  return {{"N", r.N},         {"WgtN", r.WgtN},       {"Missing", r.Missing},
          {"Sum", r.Sum},     {"Mean", r.Mean},       {"Variance", r.Variance},
          {"Stdev", r.Stdev}, {"CV", r.CV},           {"Min", r.Min},
          {"Max", r.Max},     {"Range", r.Range},     {"Cardinality", r.Cardinality},
          {"Uniques", r.Uniques}, {"Mode", r.Mode},   {"Median", r.Median},
          {"Q1", r.Q1},       {"Q3", r.Q3},           {"IQR", r.IQR},
          {"TrimmedMean", r.TrimmedMean}, {"Skewness", r.Skewness}, {"Kurtosis", r.Kurtosis}};
}

std::vector<std::pair<std::string, double>> UnivariateStats(const qel::QelUnivariate& u) {
  qel::UnivariateRecord r;
  r.N = u.N(), r.WgtN = u.WgtN(), r.Missing = u.Missing(), r.Sum = u.Sum(), r.Mean = u.Mean();
  r.Variance = u.Variance(), r.Stdev = u.Stdev(), r.CV = u.CV(), r.Min = u.Min(), r.Max = u.Max();
  r.Range = u.Range(), r.Cardinality = u.Cardinality(), r.Uniques = u.Uniques(), r.Mode = u.Mode();
  r.Median = u.Median(), r.Q1 = u.Q1(), r.Q3 = u.Q3(), r.IQR = u.IQR(), r.TrimmedMean = u.TrimmedMean();
  r.Skewness = u.Skewness(), r.Kurtosis = u.Kurtosis();
  return UnivariateStats(r);
}

std::vector<std::pair<std::string, double>> OutlierStats(const qel::QelOutlier& o) {
  return {{"N", o.N()},
          {"WgtN", o.WgtN()},
          {"Missing", o.Missing()},
          {"Sum", o.Sum()},
          {"SumWgt", o.SumWgt()},
          {"Mean", o.Mean()},
          {"Variance", o.Variance()},
          {"Stdev", o.Stdev()},
          {"Min", o.Min()},
          {"Max", o.Max()},
          {"Cardinality", o.Cardinality()},
          {"Median", o.Median()},
          {"Q1", o.Q1()},
          {"Q3", o.Q3()},
          {"TrimmedMean", o.TrimmedMean()},
          {"OutlierCountN", o.OutlierCountN()},
          {"OutlierCountWgt", o.OutlierCountWgt()}};
}

std::vector<std::pair<std::string, double>> BivariateStats(const qel::QelBivariate& b) {
  return {{"PSI", b.PSI()},
          {"DI", b.DI()},
          {"N", b.N()},
          {"Missing", b.Missing()},
          {"TargetMean", b.TargetMean()},
          {"Cardinality", b.Cardinality()}};
}

// A cell as Python should see it: numbers as numbers (the bivariate table
// keeps every cell as text; a text that reads as a number is one), an empty
// text as null, other texts as they are.
Cell ToCell(const qeldata::Value& v) {
  switch (v.kind()) {
    case qeldata::Value::Kind::kNull:
      return std::monostate{};
    case qeldata::Value::Kind::kNumber:
      return v.number();
    case qeldata::Value::Kind::kBoolean:
      return v.boolean();
    case qeldata::Value::Kind::kDate:
      return v.AsText();
    case qeldata::Value::Kind::kText: {
      if (v.text().empty()) return std::monostate{};
      if (auto n = qeldata::ParseNumber(v.text())) return *n;
      return v.text();
    }
  }
  return std::monostate{};
}

Table ToTable(qeldata::Recordset& rs, bool keep_text_columns_from = false, int text_first = -1, int text_last = -1) {
  Table t;
  auto fields = rs.GetFields();
  for (int i = 0; i < fields.Count(); ++i) t.columns.push_back(fields.Item(i).Name());
  if (rs.IsBOF() && rs.IsEOF()) return t;
  for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
    std::vector<Cell> row;
    for (int i = 0; i < fields.Count(); ++i) {
      const qeldata::Value& v = fields.Item(i).GetValue();
      // Min and Max of a text predictor stay texts, even those that look like numbers.
      if (keep_text_columns_from && i >= text_first && i <= text_last && v.kind() == qeldata::Value::Kind::kText)
        row.emplace_back(v.text());
      else
        row.push_back(ToCell(v));
    }
    t.rows.push_back(std::move(row));
  }
  return t;
}

// ---- Columns as a recordset ----

qeldata::Value TextValue(const std::optional<std::string>& text, bool dates) {
  if (!text) return qeldata::Value::Null();
  if (dates) {
    if (auto d = qeldata::Date::Parse(*text)) return qeldata::Value(*d);
    throw std::invalid_argument("'" + *text + "' is no date");
  }
  return qeldata::Value(*text);
}

qeldata::Value NumberValue(double x) { return std::isnan(x) ? qeldata::Value::Null() : qeldata::Value(x); }

// A disconnected recordset holding the columns, which the classes read as
// they read a table: "value" (and "weight", "target").
std::shared_ptr<qeldata::Recordset> ColumnsRecordset(const Column& values, std::span<const double> weights,
                                                     std::span<const double> target) {
  auto rs = std::make_shared<qeldata::Recordset>();
  auto fields = rs->GetFields();
  const int value_type = values.texts ? (values.dates ? qeldata::adDate : qeldata::adVarWChar) : qeldata::adDouble;
  fields.Append("value", value_type, values.texts ? 255 : 0, qeldata::adFldIsNullable);
  if (!weights.empty()) fields.Append("weight", qeldata::adDouble, 0, qeldata::adFldIsNullable);
  if (!target.empty()) fields.Append("target", qeldata::adDouble, 0, qeldata::adFldIsNullable);
  rs->Open();
  const std::size_t n = values.size();
  for (std::size_t i = 0; i < n; ++i) {
    rs->AddNew();
    int col = 0;
    fields.Item(col++).SetValue(values.texts        ? TextValue((*values.texts)[i], values.dates)
                                : values.is_integers ? NumberValue(static_cast<double>(values.integers[i]))
                                                     : NumberValue(values.numbers[i]));
    if (!weights.empty()) fields.Item(col++).SetValue(NumberValue(weights[i]));
    if (!target.empty()) fields.Item(col++).SetValue(NumberValue(target[i]));
    rs->Update();
  }
  return rs;
}

// ---- The classes ----

// Runs one analysis object whose input (a table or a recordset) is set.
// `text_predictor`: keep the bivariate table's Min and Max as texts (a text
// or date predictor); unknown (a table) keeps them as texts only when one of
// them is no number.
template <typename Setup>
Outcome RunClass(Analysis analysis, const Options& options, const Hooks& hooks, Setup setup,
                 std::optional<bool> text_predictor = std::nullopt) {
  HookPresenter presenter(hooks);
  qel::ScopedPresenter scoped(&presenter);
  Outcome out;
  try {
    switch (analysis) {
      case Analysis::kUnivariate: {
        qel::QelUnivariate u;
        setup(u);
        u.SetFieldName(options.field);
        u.SetWeightField(options.weight);
        u.SetshowStatus(static_cast<bool>(hooks.progress));
        out.ok = u.Run();
        out.stats = UnivariateStats(u);
        if (!out.ok) out.reason = qel::UnivariateStopReason();
        break;
      }
      case Analysis::kOutlier: {
        qel::QelOutlier o;
        setup(o);
        o.SetOutlierField(options.field);
        o.SetWeightField(options.weight);
        o.SetFindType(static_cast<qel::OutlierType>(options.rule));
        o.SetTypeParm(options.parm);
        o.SetshowStatus(static_cast<bool>(hooks.progress));
        out.ok = o.Run();
        out.stats = OutlierStats(o);
        if (auto rs = o.ResultSet()) out.table = ToTable(*rs);
        if (!out.ok) out.reason = o.RunFailure();
        break;
      }
      case Analysis::kBivariate: {
        qel::QelBivariate b;
        setup(b);
        b.SetPredictorField(options.field);
        b.SetTargetField(options.target);
        b.SetWeightField(options.weight);
        b.SetBinCount(options.bins);
        b.SetCategorical(options.categorical);
        b.SetshowStatus(static_cast<bool>(hooks.progress));
        out.ok = b.Run();
        out.stats = BivariateStats(b);
        out.categorical = b.Categorical();
        if (out.ok) {
          if (auto rs = b.ResultSet()) {
            out.table = ToTable(*rs, text_predictor.value_or(false), 2, 3);
            bool all_numbers = true;
            for (const auto& row : out.table->rows)
              for (int col : {2, 3}) all_numbers = all_numbers && !std::holds_alternative<std::string>(row[col]);
            if (!text_predictor && !all_numbers) out.table = ToTable(*rs, true, 2, 3);
          }
        }
        break;
      }
    }
  } catch (const qeldata::Error& e) {
    throw std::invalid_argument(e.what());
  }
  if (presenter.interrupted()) throw Interrupted{};
  out.messages = presenter.TakeMessages();
  if (!out.ok && out.reason.empty() && !out.messages.empty()) {
    // The outlier and bivariate classes tell their user in a message box.
    out.reason = out.messages.back();
    for (const char* prefix : {"Error: ", "Com_Bivariate: Bivariate_Run "})
      if (out.reason.rfind(prefix, 0) == 0) out.reason.erase(0, std::strlen(prefix));
  }
  return out;
}

// ---- Tallies ----

using NumberTally = qel::Tally<qel::CountWeight>;
using SegmentTally = qel::Tally<qel::TargetSums>;

// Fills a univariate (or outlier) tally from arrays in array order: a NaN
// value or weight is a missing record, counted once.
template <typename T>
void FillNumberTally(NumberTally& tally, std::span<const T> values, std::span<const double> weights,
                     std::size_t begin, std::size_t end) {
  if (weights.empty()) {
    if constexpr (std::is_integral_v<T>) {
      for (std::size_t i = begin; i < end; ++i) tally.Add(static_cast<double>(values[i]));
      return;
    }
    for (std::size_t i = begin; i < end; ++i) {
      if (std::isnan(values[i]))
        tally.AddMissing(1);
      else
        tally.Add(values[i]);
    }
  } else {
    for (std::size_t i = begin; i < end; ++i) {
      if (std::isnan(static_cast<double>(values[i])) || std::isnan(weights[i]))
        tally.AddMissing(1);
      else
        tally.Add(static_cast<double>(values[i]), weights[i]);
    }
  }
}

// A segmentation record is missing when its predictor or target (or weight)
// is; it then adds its weight to Missing, or 1 when the weight itself is missing.
template <typename TallyT, typename IsNull, typename AddFn>
void FillSegment(TallyT& tally, std::size_t n, std::span<const double> weights, std::span<const double> target,
                 IsNull predictor_null, AddFn add) {
  for (std::size_t i = 0; i < n; ++i) {
    const double w = weights.empty() ? 1.0 : weights[i];
    if (predictor_null(i) || std::isnan(target[i]) || std::isnan(w))
      tally.AddMissing(std::isnan(w) ? 1.0 : w);
    else
      add(i, w, target[i]);
  }
}

// Bytes of a tally begin with one byte naming its kind, so that a merge or a
// finish never reads one kind as another.
constexpr unsigned char kNumberKind = 'U', kSegmentKind = 'B', kTextSegmentKind = 'T';

std::vector<unsigned char> Tagged(unsigned char kind, std::vector<unsigned char> bytes) {
  bytes.insert(bytes.begin(), kind);
  return bytes;
}

unsigned char KindOf(std::span<const unsigned char> bytes) {
  if (bytes.empty()) throw std::invalid_argument("empty tally bytes");
  return bytes[0];
}

template <typename T>
T Untag(std::span<const unsigned char> bytes) {
  return T::Deserialize(bytes.subspan(1));
}

}  // namespace

// ---- Public ----

Outcome RunTable(Analysis analysis, const std::string& connection, const std::string& source, const Options& options,
                 const Hooks& hooks) {
  return RunClass(analysis, options, hooks, [&](auto& object) {
    object.SetConnectionString(connection);
    object.SetSource(source);
  });
}

Outcome RunColumns(Analysis analysis, const Options& options, const Column& values, std::span<const double> weights,
                   std::span<const double> target, const Hooks& hooks) {
  if (analysis == Analysis::kUnivariate && !values.texts) {
    // The tally path: the arrays are read in place, in chunks between which
    // the host may interrupt.
    NumberTally tally;
    const std::size_t n = values.size();
    if (hooks.progress) hooks.progress("Reading Data", 0);
    for (std::size_t begin = 0; begin < n; begin += kCheckpointRows) {
      if (hooks.interrupted && hooks.interrupted()) throw Interrupted{};
      const std::size_t end = std::min(n, begin + kCheckpointRows);
      if (values.is_integers)
        FillNumberTally(tally, values.integers, weights, begin, end);
      else
        FillNumberTally(tally, values.numbers, weights, begin, end);
    }
    if (hooks.interrupted && hooks.interrupted()) throw Interrupted{};
    qel::UnivariateRecord rec;
    Outcome out;
    qel::PhaseFn phase;
    if (hooks.progress) phase = [&](const char* status, int bar) { hooks.progress(status, bar); };
    out.ok = qel::Univariate_Finish(tally, rec, &out.reason, phase);
    out.stats = UnivariateStats(rec);
    return out;
  }
  auto rs = ColumnsRecordset(values, weights, target);
  // The recordset's own field names; the table's columns get the caller's.
  Options named = options;
  named.field = "value";
  named.target = "target";
  named.weight = weights.empty() ? "" : "weight";
  Outcome out = RunClass(
      analysis, named, hooks, [&](auto& object) { object.SetDataSource(rs); }, values.texts != nullptr);
  if (analysis == Analysis::kBivariate && out.table && out.table->columns.size() == 6) {
    out.table->columns[2] = "Min " + options.field;
    out.table->columns[3] = "Max " + options.field;
    out.table->columns[4] = "Mean " + options.target;
  }
  return out;
}

std::vector<unsigned char> TallyBytes(Analysis analysis, const Column& values, std::span<const double> weights,
                                      std::span<const double> target) {
  if (analysis != Analysis::kBivariate) {
    if (values.texts) throw std::invalid_argument("Numeric Data types only");
    NumberTally tally;
    if (values.is_integers)
      FillNumberTally(tally, values.integers, weights, 0, values.size());
    else
      FillNumberTally(tally, values.numbers, weights, 0, values.size());
    return Tagged(kNumberKind, tally.Serialize());
  }
  if (values.texts) {
    qel::TextTally tally;
    const auto& texts = *values.texts;
    FillSegment(tally, texts.size(), weights, target, [&](std::size_t i) { return !texts[i].has_value(); },
                [&](std::size_t i, double w, double t) {
                  // Dates are keyed by the text form the table would show.
                  if (values.dates)
                    tally.Add(TextValue(texts[i], true).AsText(), w, t);
                  else
                    tally.Add(*texts[i], w, t);
                });
    return Tagged(kTextSegmentKind, tally.Serialize());
  }
  SegmentTally tally;
  auto number = [&](std::size_t i) {
    return values.is_integers ? static_cast<double>(values.integers[i]) : values.numbers[i];
  };
  FillSegment(tally, values.size(), weights, target, [&](std::size_t i) { return std::isnan(number(i)); },
              [&](std::size_t i, double w, double t) { tally.Add(number(i), w, t); });
  return Tagged(kSegmentKind, tally.Serialize());
}

std::vector<unsigned char> MergeTallyBytes(Analysis, std::span<const unsigned char> a, std::span<const unsigned char> b) {
  const unsigned char kind = KindOf(a);
  if (KindOf(b) != kind)
    throw std::invalid_argument("tallies of different kinds (numbers and texts) cannot be merged");
  switch (kind) {
    case kNumberKind: {
      auto t = Untag<NumberTally>(a);
      t.Merge(Untag<NumberTally>(b));
      return Tagged(kind, t.Serialize());
    }
    case kSegmentKind: {
      auto t = Untag<SegmentTally>(a);
      t.Merge(Untag<SegmentTally>(b));
      return Tagged(kind, t.Serialize());
    }
    case kTextSegmentKind: {
      auto t = Untag<qel::TextTally>(a);
      t.Merge(Untag<qel::TextTally>(b));
      return Tagged(kind, t.Serialize());
    }
  }
  throw std::invalid_argument("bytes that are no tally");
}

bool CanFinishTally(Analysis analysis) { return analysis == Analysis::kUnivariate; }

Outcome FinishTallyBytes(Analysis analysis, const Options&, std::span<const unsigned char> bytes, const Hooks& hooks) {
  if (!CanFinishTally(analysis) || KindOf(bytes) != kNumberKind)
    throw std::logic_error("this engine finishes only univariate tallies");
  auto tally = Untag<NumberTally>(bytes);
  qel::UnivariateRecord rec;
  Outcome out;
  qel::PhaseFn phase;
  if (hooks.progress) phase = [&](const char* status, int bar) { hooks.progress(status, bar); };
  out.ok = qel::Univariate_Finish(tally, rec, &out.reason, phase);
  out.stats = UnivariateStats(rec);
  return out;
}

const std::vector<Function>& Functions() {
  static const std::vector<Function> functions = [] {
    std::vector<Function> out;
    for (const qel::StatFctnMember& m : qel::QelStatFctn::Members()) {
      Function f{std::string(m.name), m.argument_count, {}, std::string(m.help_text)};
      for (std::string_view a : m.Arguments()) f.arguments.emplace_back(a);
      out.push_back(std::move(f));
    }
    return out;
  }();
  return functions;
}

double CallFunction(std::size_t index, std::span<const double> args) {
  static const qel::QelStatFctn object;
  return qel::QelStatFctn::Members()[index].invoke(object, args);
}

}  // namespace qelpy

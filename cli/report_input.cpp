#include "report_input.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>
#include <unordered_map>

#include "cli_common.h"
#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/QelOutlier.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/modBivariate.h"
#include "qelStatsLib/modUnivariate.h"
#include "qelStatsLib/tally.h"
#include "qelStatsLib/presenter.h"
#include "qeldata/recordset.h"

namespace qelcli {

namespace {

// Keeps the runs' message boxes as notes for the page and shows no window.
class NotePresenter final : public qel::Presenter {
 public:
  std::unique_ptr<qel::ProgressWindow> LoadProgressWindow() override { return silent_.LoadProgressWindow(); }
  void ShowMessage(const std::string& text) override { messages_.push_back(text); }
  std::string Take() {
    std::string all;
    for (const auto& m : messages_) all += (all.empty() ? "" : " ") + m;
    messages_.clear();
    return all;
  }

 private:
  qel::SilentPresenter silent_;
  std::vector<std::string> messages_;
};

bool IsTextLike(int type) { return qeldata::IsTextType(type) || type == qeldata::adDate || type == qeldata::adDBDate ||
                                   type == qeldata::adDBTime || type == qeldata::adDBTimeStamp; }

// The kind of a column in words, for the page.
std::string KindOfType(int type) {
  switch (type) {
    case qeldata::adTinyInt: case qeldata::adSmallInt: case qeldata::adInteger: case qeldata::adBigInt:
      return "integer";
    case qeldata::adSingle: case qeldata::adDouble: case qeldata::adCurrency: case qeldata::adDecimal:
    case qeldata::adNumeric: case qeldata::adVarNumeric:
      return "decimal";
    case qeldata::adBoolean: return "boolean";
    case qeldata::adDate: case qeldata::adDBDate: case qeldata::adDBTime: case qeldata::adDBTimeStamp:
      return "date";
    default: return qeldata::IsTextType(type) ? "text" : "type " + std::to_string(type);
  }
}

std::string NowUtc() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

std::unique_ptr<qeldata::Recordset> OpenForward(const ReportRequest& r) {
  auto rs = std::make_unique<qeldata::Recordset>();
  rs->SetCursorLocation(qeldata::adUseServer);
  rs->Open(r.source, r.connection_string, qeldata::adOpenForwardOnly, qeldata::adLockReadOnly, -1);
  return rs;
}

// A number of a result table; NaN for an empty cell (a bin without records
// has no mean), so that it shows as "n/a" and never as 0.
double NumberOf(const qeldata::Value& v) {
  if (v.IsNull()) return std::numeric_limits<double>::quiet_NaN();
  if (v.IsNumber()) return v.number();
  const auto parsed = qeldata::ParseNumber(v.AsText());
  if (!parsed) throw std::runtime_error("a result table holds '" + v.AsText() + "' where a number belongs");
  return *parsed;
}

// ---- Numeric fields: univariate, then outliers and their distinct values ----

// The univariate figures under the names the page shows, from a run's record.
// An analysis of the report: it reads the report's input, weighted as the
// report is, without a progress window of its own.
void ReadReportInput(qel::AnalysisInput& analysis, const ReportRequest& r) {
  analysis.SetConnectionString(r.connection_string);
  analysis.SetSource(r.source);
  analysis.SetWeightField(r.weight);
  analysis.SetshowStatus(false);
}

void SetUnivariateFigures(FieldProfile& p, const qel::UnivariateRecord& rec) {
  p.figures.clear();
  for (const auto& m : qel::kUnivariateResults) p.figures.emplace_back(std::string(m.name), rec.*m.member);
}

void ProfileUnivariate(const ReportRequest& r, FieldProfile& p) {
  qel::QelUnivariate u;
  ReadReportInput(u, r);
  u.SetFieldName(p.name);
  p.figures_complete = u.Run();
  p.records = u.N() + u.Missing();
  p.missing = u.Missing();
  p.distinct = u.Cardinality();
  if (!p.figures_complete) p.note = "The univariate run stopped early: " + u.StopReason();
  if (u.N() == 0) return;  // nothing was computed beyond the counts
  SetUnivariateFigures(p, u.Results());
}

// The box plot of the distinct values `sorted` (ascending) from its figures;
// the whiskers are found among the values.
BoxPlot MakeBoxPlot(std::span<const ValueWeight> sorted, double min, double max, double q1, double median, double q3,
                    double trimmed_mean) {
  BoxPlot box{.min = min, .q1 = q1, .median = median, .q3 = q3, .max = max, .trimmed_mean = trimmed_mean};
  std::tie(box.whisker_low, box.whisker_high) = Whiskers(sorted, q1, q3);
  return box;
}

void ProfileOutliers(const ReportRequest& r, FieldProfile& p, NotePresenter& notes) {
  qel::QelOutlier o;
  ReadReportInput(o, r);
  o.SetOutlierField(p.name);
  o.SetFindType(qel::outSTD);
  o.SetTypeParm(r.outlier_sigmas);
  const bool ran = o.Run();
  const std::string said = notes.Take();
  const auto table = o.ResultSet();
  if (!ran || !table) {
    if (p.note.empty()) p.note = "The outlier run stopped: " + (said.empty() ? o.StopReason() : said);
    return;
  }
  // The result table holds one row per distinct value, in ascending order.
  std::vector<ValueWeight> sorted;
  std::vector<bool> outlying;
  const qeldata::Fields cols = table->GetFields();
  if (!(table->IsBOF() && table->IsEOF())) {
    for (table->MoveFirst(); !table->IsEOF(); table->MoveNext()) {
      sorted.push_back({NumberOf(cols.Item(0).GetValue()), NumberOf(cols.Item(1).GetValue()),
                        NumberOf(cols.Item(2).GetValue())});
      const qeldata::Value& flag = cols.Item(3).GetValue();
      outlying.push_back(flag.kind() == qeldata::Value::Kind::kBoolean && flag.boolean());
    }
  }
  if (sorted.empty()) return;

  p.histogram = MakeHistogram(sorted, r.histogram_bins);

  OutlierBand band;
  band.sigmas = r.outlier_sigmas;
  band.lower = o.Mean() - r.outlier_sigmas * o.Stdev();
  band.upper = r.outlier_sigmas * o.Stdev() + o.Mean();
  band.count = o.OutlierCountN();
  band.weight = o.OutlierCountWgt();
  for (std::size_t i = 0; i < sorted.size() && outlying[i] && band.lowest.size() < static_cast<std::size_t>(r.extremes);
       ++i)
    if (sorted[i].value < band.lower) band.lowest.push_back(sorted[i]);
  for (std::size_t i = sorted.size(); i-- > 0 && outlying[i] && band.highest.size() < static_cast<std::size_t>(r.extremes);)
    if (sorted[i].value > band.upper) band.highest.push_back(sorted[i]);
  p.outliers = band;

  // The quartiles and the trimmed mean are the univariate run's; the
  // whiskers need the distinct values, which only the outlier table lists.
  if (const auto q1 = p.Figure("Q1"), q3 = p.Figure("Q3"); q1 && q3 && p.figures_complete) {
    p.box = MakeBoxPlot(sorted, sorted.front().value, sorted.back().value, *q1, *p.Figure("Median"), *q3,
                        *p.Figure("TrimmedMean"));
  }
}

// ---- Text fields: one frequency count ----

// The most frequent of `all` (every distinct value of a field) for the page,
// and the weight of the others.
void KeepTopValues(const ReportRequest& r, std::vector<Frequency> all, FieldProfile& p) {
  double total = 0;
  for (const auto& f : all) total += f.weight;
  const std::size_t keep = std::min(all.size(), static_cast<std::size_t>(std::max(r.top_values, 0)));
  // Most weight first; equal weights in the order of their text, so the page is the same on every run.
  std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(keep), all.end(),
                    [](const Frequency& a, const Frequency& b) {
                      return a.weight != b.weight ? a.weight > b.weight : a.value < b.value;
                    });
  all.resize(keep);
  double shown = 0;
  for (const auto& f : all) shown += f.weight;
  p.top_values = std::move(all);
  p.other_weight = total - shown;
}

void ProfileFrequencies(const ReportRequest& r, FieldProfile& p) {
  auto rs = OpenForward(r);
  const qeldata::Fields fields = rs->GetFields();
  const qeldata::Field value = fields.Item(p.name);
  const bool weighted = !r.weight.empty();
  const qeldata::Field weight = fields.Item(weighted ? r.weight : p.name);
  std::unordered_map<std::string, Frequency> tally;
  double records = 0, missing = 0;
  if (!rs->IsEOF()) rs->MoveFirst();
  for (; !rs->IsEOF(); rs->MoveNext()) {
    ++records;
    const qeldata::Value& v = value.GetValue();
    double w = 1;
    if (v.IsNull()) {
      ++missing;
      continue;
    }
    if (weighted) {
      const qeldata::Value& wv = weight.GetValue();
      if (wv.IsNull()) {
        ++missing;
        continue;
      }
      w = wv.AsNumber();  // a weight that is no number is an input error, reported with its text
    }
    std::string key = v.AsText();
    Frequency& f = tally[key];
    if (f.count == 0) f.value = std::move(key);
    f.count += 1;
    f.weight += w;
  }
  p.records = records;
  p.missing = missing;
  p.distinct = static_cast<double>(tally.size());
  std::vector<Frequency> all;
  all.reserve(tally.size());
  for (auto& [key, f] : tally) all.push_back(std::move(f));
  KeepTopValues(r, std::move(all), p);
}

// ---- Against the target ----

// The figures of a segmentation from its run record.
void SetSegmentationFigures(Segmentation& seg, const qel::BivariateRecord& rec) {
  seg.categorical = rec.Categorical;
  seg.psi = rec.PSI;
  seg.di = rec.DI;
  seg.target_mean = rec.TargetMean;
  seg.n = rec.N;
  seg.missing = rec.Missing;
}

// The rows of a bivariate result table (one per bin).
void ReadSegmentRows(qeldata::Recordset& table, Segmentation& seg) {
  if (table.IsBOF() && table.IsEOF()) return;
  const qeldata::Fields cols = table.GetFields();
  for (table.MoveFirst(); !table.IsEOF(); table.MoveNext()) {
    seg.rows.push_back({cols.Item(0).GetValue().AsText(), NumberOf(cols.Item(1).GetValue()),
                        cols.Item(2).GetValue().AsText(), cols.Item(3).GetValue().AsText(),
                        NumberOf(cols.Item(4).GetValue()), NumberOf(cols.Item(5).GetValue())});
  }
}

void ProfileSegmentation(const ReportRequest& r, FieldProfile& p, NotePresenter& notes) {
  qel::QelBivariate b;
  ReadReportInput(b, r);
  b.SetPredictorField(p.name);
  b.SetTargetField(r.target);
  b.SetBinCount(static_cast<std::int16_t>(r.bins));
  Segmentation seg;
  seg.ran = b.Run();
  seg.note = notes.Take();
  SetSegmentationFigures(seg, b.Results());
  if (seg.ran) {
    if (const auto table = b.ResultSet()) ReadSegmentRows(*table, seg);
  } else if (seg.note.empty()) {
    seg.note = "the bivariate run returned no result";
  }
  p.segmentation = std::move(seg);
}

// ---- One pass over the input ----


// The 15-digit key of a number, as the runs key it: a value read from a token
// of at most 15 significant digits is its own key (+0 folds -0 into 0).
double NumberKey(const qeldata::Value& v) {
  const double x = v.IsNumber() ? v.number() : v.AsNumber();
  if (!std::isfinite(x)) throw std::runtime_error("not a finite number");
  const double key = v.IsNumber() && v.IsCanonicalNumber() ? x + 0.0 : qel::Form15(x);
  if (!std::isfinite(key)) throw std::runtime_error("not a finite number");
  return key;
}

double FiniteNumber(const qeldata::Value& v) {
  const double x = v.IsNumber() ? v.number() : v.AsNumber();
  if (!std::isfinite(x)) throw std::runtime_error("not a finite number");
  return x;
}

// Types a segmentation treats as categories (one bin per text), and types it
// keys by number; any other type is left to the bivariate run itself.
bool IsCategoricalPredictor(int type) {
  switch (type) {
    case qeldata::adChar: case qeldata::adWChar: case qeldata::adVarChar: case qeldata::adVarWChar:
    case qeldata::adDate: case qeldata::adDBDate: case qeldata::adDBTimeStamp:
      return true;
    default:
      return false;
  }
}
bool IsBinary(int type) {
  return type == qeldata::adBinary || type == qeldata::adVarBinary || type == qeldata::adLongVarBinary;
}
bool IsNumericPredictor(int type) { return !IsTextLike(type) && !IsBinary(type); }

// What one pass keeps of a field: the tally its univariate and outlier
// figures are finished from (numeric) or its frequency count (text), and its
// segmentation tally against the target. A part whose reading the runs would
// stop on (a value that is no number, an overflow) is dropped at that record
// and left to the run itself, which reproduces the stop and its message.
struct FieldTallies {
  std::string name;
  bool text = false;
  qel::Tally<qel::CountWeight> numbers;
  bool numbers_failed = false;
  struct TextCount {
    std::string value;
    double count = 0, weight = 0;
  };
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, TextCount, Hash, std::equal_to<>> texts;
  double text_records = 0, text_missing = 0;
  bool texts_failed = false;
  // Against the target.
  bool segment = false, categorical = false, segment_failed = false;
  qel::Tally<qel::TargetSums> segment_numbers;
  qel::TextTally segment_texts;
};

// The text a categorical segmentation keys a value by.
std::string CategoryText(const qeldata::Value& v) {
  switch (v.kind()) {
    case qeldata::Value::Kind::kText: return v.text();
    case qeldata::Value::Kind::kNumber: return qeldata::NumberText(NumberKey(v));
    case qeldata::Value::Kind::kDate: return v.date().ToText();
    default: return v.AsText();
  }
}

// Reads every record once into every field's tallies, by the runs' rules:
// a null value (or, weighted, a null weight) counts once as Missing of the
// field's univariate, outlier and frequency figures; the segmentation counts a
// record with a null predictor or target as Missing, by its weight when the
// weight is there (1 when the weight is null). Returns the records read.
double ReadAll(const ReportRequest& r, std::vector<FieldTallies>& tallies) {
  auto rs = OpenForward(r);
  const qeldata::Fields fields = rs->GetFields();
  std::vector<qeldata::Field> value_fields;
  value_fields.reserve(tallies.size());
  for (const FieldTallies& t : tallies) value_fields.push_back(fields.Item(t.name));
  const bool weighted = !r.weight.empty(), targeted = !r.target.empty();
  std::optional<qeldata::Field> weight, target;
  if (weighted) weight = fields.Item(r.weight);
  if (targeted) target = fields.Item(r.target);
  double records = 0;
  if (!rs->IsEOF()) rs->MoveFirst();
  for (; !rs->IsEOF(); rs->MoveNext()) {
    ++records;
    const qeldata::Value* wv = weighted ? &weight->GetValue() : nullptr;
    const qeldata::Value* tv = targeted ? &target->GetValue() : nullptr;
    for (std::size_t i = 0; i < tallies.size(); ++i) {
      FieldTallies& t = tallies[i];
      const qeldata::Value& v = value_fields[i].GetValue();
      const bool missing = v.IsNull() || (wv && wv->IsNull());
      if (!t.text && !t.numbers_failed) {
        try {
          if (missing) t.numbers.AddMissing();
          else if (wv) t.numbers.AddKeyed(v.IsNumber() ? v.number() : v.AsNumber(), NumberKey(v), FiniteNumber(*wv));
          else t.numbers.AddKeyed(v.IsNumber() ? v.number() : v.AsNumber(), NumberKey(v));
        } catch (const std::exception&) {
          t.numbers_failed = true;
        }
      } else if (t.text && !t.texts_failed) {
        try {
          ++t.text_records;
          if (missing) {
            ++t.text_missing;
          } else {
            const double w = wv ? wv->AsNumber() : 1;
            const std::string text = v.kind() == qeldata::Value::Kind::kText ? std::string() : v.AsText();
            const std::string& key = v.kind() == qeldata::Value::Kind::kText ? v.text() : text;
            auto it = t.texts.find(std::string_view(key));
            if (it == t.texts.end()) it = t.texts.emplace(key, FieldTallies::TextCount{key}).first;
            it->second.count += 1;
            it->second.weight += w;
          }
        } catch (const std::exception&) {
          t.texts_failed = true;
        }
      }
      if (t.segment && !t.segment_failed) {
        try {
          if (v.IsNull() || tv->IsNull() || (wv && wv->IsNull())) {
            const double amount = wv && !wv->IsNull() ? FiniteNumber(*wv) : 1.0;
            if (t.categorical) t.segment_texts.AddMissing(amount);
            else t.segment_numbers.AddMissing(amount);
          } else {
            const double w = wv ? FiniteNumber(*wv) : 1.0, y = FiniteNumber(*tv);
            if (t.categorical) {
              t.segment_texts.Add(CategoryText(v), w, y);
            } else {
              const double key = NumberKey(v);
              t.segment_numbers.AddKeyed(key, key, w, y);
            }
          }
        } catch (const std::exception&) {
          t.segment_failed = true;
        }
      }
    }
  }
  for (FieldTallies& t : tallies) {
    if (!t.text) t.numbers.Flush();
    if (t.segment && !t.categorical) t.segment_numbers.Flush();
  }
  return records;
}

// The univariate figures, outlier band, histogram and box plot of a numeric
// field from its tally. Returns false when a finish stops, so that the runs
// themselves give the field its figures and their messages.
bool FinishNumeric(const ReportRequest& r, qel::Tally<qel::CountWeight>& tally, FieldProfile& p) {
  // The finish empties its tally: the distinct values are copied out first
  // and sorted here (each value is one distinct key, so any sort by value
  // gives the finish's order).
  std::vector<qel::Tally<qel::CountWeight>::Entry> entries = tally.Entries();
  qel::UnivariateRecord u;
  if (!qel::Univariate_Finish(tally, u)) return false;
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.value < b.value; });
  // The outlier run's mean and standard deviation are the univariate run's by
  // definition (the same record-order sums, the same walk up the sorted
  // values); it stops where the total weight is 1 or less.
  if (!(u.WgtN > 1)) return false;
  OutlierBand band;
  band.sigmas = r.outlier_sigmas;
  const double width = r.outlier_sigmas * u.Stdev;
  band.upper = width + u.Mean;
  band.lower = u.Mean - width;
  if (!std::isfinite(width) || !std::isfinite(band.upper) || !std::isfinite(band.lower)) return false;
  for (const auto& e : entries)
    if (e.value > band.upper || e.value < band.lower) {
      band.weight += e.payload.weight;
      band.count += e.payload.count;
    }
  if (!std::isfinite(band.weight)) return false;

  p.figures_complete = true;
  p.records = u.N + u.Missing;
  p.missing = u.Missing;
  p.distinct = u.Cardinality;
  SetUnivariateFigures(p, u);
  const auto extremes = static_cast<std::size_t>(std::max(r.extremes, 0));
  for (std::size_t i = 0; i < entries.size() && band.lowest.size() < extremes && entries[i].value < band.lower; ++i)
    band.lowest.push_back({entries[i].value, entries[i].payload.count, entries[i].payload.weight});
  for (std::size_t i = entries.size(); i-- > 0 && band.highest.size() < extremes && entries[i].value > band.upper;)
    band.highest.push_back({entries[i].value, entries[i].payload.count, entries[i].payload.weight});
  p.outliers = band;

  std::vector<ValueWeight> sorted;
  sorted.reserve(entries.size());
  for (const auto& e : entries) sorted.push_back({e.value, e.payload.count, e.payload.weight});
  p.histogram = MakeHistogram(sorted, r.histogram_bins);
  p.box = MakeBoxPlot(sorted, u.Min, u.Max, u.Q1, u.Median, u.Q3, u.TrimmedMean);
  return true;
}

// The most frequent values of a text field from its count.
void FinishFrequencies(const ReportRequest& r, FieldTallies& t, FieldProfile& p) {
  p.records = t.text_records;
  p.missing = t.text_missing;
  p.distinct = static_cast<double>(t.texts.size());
  std::vector<Frequency> all;
  all.reserve(t.texts.size());
  for (auto& [key, c] : t.texts) all.push_back({std::move(c.value), c.count, c.weight});
  t.texts.clear();
  KeepTopValues(r, std::move(all), p);
}

// The segmentation of a field against the target from its tally, as the
// bivariate run finishes it. Returns false when the finish stops.
bool FinishSegmentation(const ReportRequest& r, FieldTallies& t, FieldProfile& p) {
  qel::BivariateRecord rec;
  const qel::BivariateOptions options{p.name, r.target, static_cast<std::int16_t>(r.bins), t.categorical,
                                      !r.weight.empty()};
  qel::CancelFlag() = false;
  std::string reason;
  const auto table = t.categorical ? qel::Bivariate_Finish(t.segment_texts, options, rec, &reason)
                                   : qel::Bivariate_Finish(t.segment_numbers, options, rec, &reason);
  if (!table) return false;
  Segmentation seg;
  seg.ran = true;
  SetSegmentationFigures(seg, rec);
  ReadSegmentRows(*table, seg);
  p.segmentation = std::move(seg);
  return true;
}

}  // namespace

ReportInput BuildReportInput(const ReportRequest& r) {
  ReportInput in;
  in.input_name = r.input_name;
  in.timestamp = NowUtc();
  in.bins = r.bins;

  // The field list and types; a forward-only open reads no more than its first block.
  struct Column {
    std::string name;
    int type;
  };
  std::vector<Column> columns;
  {
    auto rs = OpenForward(r);
    const qeldata::Fields fields = rs->GetFields();
    for (int i = 0; i < fields.Count(); ++i) columns.push_back({fields.Item(i).Name(), fields.Item(i).Type()});
  }
  in.field_count = static_cast<double>(columns.size());
  // Names are matched as the data layer matches them (without regard to
  // case); the page shows them as the input spells them.
  auto find = [&](const std::string& name, const char* what) -> const Column& {
    for (const Column& c : columns)
      if (c.name.size() == name.size() &&
          std::equal(c.name.begin(), c.name.end(), name.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
          }))
        return c;
    throw UsageError(std::string(what) + " '" + name + "' is not a field of " + r.input_name);
  };
  if (!r.target.empty()) {
    const Column& t = find(r.target, "target");
    if (IsTextLike(t.type)) throw UsageError("target '" + t.name + "' is not numeric (" + KindOfType(t.type) + ")");
    in.target = t.name;
  }
  if (!r.weight.empty()) {
    const Column& w = find(r.weight, "weight");
    if (IsTextLike(w.type)) throw UsageError("weight '" + w.name + "' is not numeric (" + KindOfType(w.type) + ")");
    in.weight = w.name;
  }
  std::vector<Column> chosen;
  if (r.fields.empty()) {
    chosen = columns;
  } else {
    for (const auto& name : r.fields) {
      const Column& c = find(name, "field");
      if (std::none_of(chosen.begin(), chosen.end(), [&](const Column& k) { return k.name == c.name; }))
        chosen.push_back(c);
    }
  }

  ReportRequest req = r;
  req.target = in.target;
  req.weight = in.weight;
  NotePresenter notes;
  qel::ScopedPresenter scoped(&notes);

  // One pass fills every field's tallies; then each field is finished from
  // them. A field part whose reading or finish the runs would stop on is left
  // to its run, which reads the input again and says why it stopped.
  std::vector<FieldTallies> tallies(chosen.size());
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    FieldTallies& t = tallies[i];
    t.name = chosen[i].name;
    t.text = IsTextLike(chosen[i].type);
    // Binary data, which the runs refuse, and a bin count they would refuse
    // are left to the runs and their messages.
    t.numbers_failed = !t.text && IsBinary(chosen[i].type);
    t.segment = !in.target.empty() && chosen[i].name != in.target && r.bins > 0 &&
                (IsCategoricalPredictor(chosen[i].type) || IsNumericPredictor(chosen[i].type));
    t.categorical = IsCategoricalPredictor(chosen[i].type);
  }
  const double records = ReadAll(req, tallies);
  int passes = 1;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const Column& c = chosen[i];
    FieldTallies& t = tallies[i];
    if (r.on_field) r.on_field(c.name, static_cast<int>(in.fields.size()) + 1, static_cast<int>(chosen.size()));
    FieldProfile p;
    p.name = c.name;
    p.type_name = KindOfType(c.type);
    p.is_target = c.name == in.target;
    p.is_weight = c.name == in.weight;
    if (t.text) {
      p.kind = FieldKind::kText;
      if (t.texts_failed || records == 0) {
        ProfileFrequencies(req, p);
        ++passes;
      } else {
        FinishFrequencies(req, t, p);
      }
    } else {
      p.kind = FieldKind::kNumeric;
      if (t.numbers_failed || records == 0 || !FinishNumeric(req, t.numbers, p)) {
        FieldProfile fresh;  // nothing of a stopped finish stays
        fresh.name = p.name;
        fresh.type_name = p.type_name;
        fresh.kind = p.kind;
        fresh.is_target = p.is_target;
        fresh.is_weight = p.is_weight;
        p = std::move(fresh);
        ProfileUnivariate(req, p);
        ProfileOutliers(req, p, notes);
        passes += 2;
      }
      t.numbers = {};
    }
    if (!in.target.empty() && !p.is_target) {
      if (!t.segment || t.segment_failed || records == 0 || !FinishSegmentation(req, t, p)) {
        ProfileSegmentation(req, p, notes);
        ++passes;
      }
      t.segment_numbers = {};
      t.segment_texts = {};
    }
    in.rows = std::max(in.rows, p.records);
    in.fields.push_back(std::move(p));
  }
  in.method_note = "Made in " + std::to_string(passes) + (passes == 1 ? " pass" : " passes") +
                   " over the input: one pass tallies every field, then each field is finished as its runs finish "
                   "it: the univariate figures, the outliers outside the mean \xC2\xB1 " +
                   qeldata::NumberText(r.outlier_sigmas) + " standard deviations, the most frequent values of a text field" +
                   (in.target.empty() ? std::string(".") : ", and its segmentation against " + in.target + ".") +
                   (passes > 1 ? " A field the pass could not finish was read again by its own run." : "");
  return in;
}

}  // namespace qelcli

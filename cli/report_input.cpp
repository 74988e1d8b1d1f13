#include "report_input.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>
#include <limits>
#include <stdexcept>
#include <memory>
#include <tuple>
#include <unordered_map>

#include "cli_common.h"
#include "qelStatsLib/QelBivariate.h"
#include "qelStatsLib/QelOutlier.h"
#include "qelStatsLib/QelUnivariate.h"
#include "qelStatsLib/modUnivariate.h"
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

void ProfileUnivariate(const ReportRequest& r, FieldProfile& p) {
  qel::QelUnivariate u;
  u.SetConnectionString(r.connection_string);
  u.SetSource(r.source);
  u.SetFieldName(p.name);
  u.SetWeightField(r.weight);
  u.SetshowStatus(false);
  p.figures_complete = u.Run();
  p.records = u.N() + u.Missing();
  p.missing = u.Missing();
  p.distinct = u.Cardinality();
  if (!p.figures_complete) p.note = "The univariate run stopped early: " + u.StopReason();
  if (u.N() == 0) return;  // nothing was computed beyond the counts
  p.figures = {{"N", u.N()},
               {"WgtN", u.WgtN()},
               {"Missing", u.Missing()},
               {"Sum", u.Sum()},
               {"Mean", u.Mean()},
               {"Variance", u.Variance()},
               {"Stdev", u.Stdev()},
               {"CV", u.CV()},
               {"Min", u.Min()},
               {"Max", u.Max()},
               {"Range", u.Range()},
               {"Cardinality", u.Cardinality()},
               {"Uniques", u.Uniques()},
               {"Mode", u.Mode()},
               {"Median", u.Median()},
               {"Q1", u.Q1()},
               {"Q3", u.Q3()},
               {"IQR", u.IQR()},
               {"TrimmedMean", u.TrimmedMean()},
               {"Skewness", u.Skewness()},
               {"Kurtosis", u.Kurtosis()}};
}

void ProfileOutliers(const ReportRequest& r, FieldProfile& p, NotePresenter& notes) {
  qel::QelOutlier o;
  o.SetConnectionString(r.connection_string);
  o.SetSource(r.source);
  o.SetOutlierField(p.name);
  o.SetWeightField(r.weight);
  o.SetFindType(qel::outSTD);
  o.SetTypeParm(r.outlier_sigmas);
  o.SetshowStatus(false);
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
    BoxPlot box;
    box.min = sorted.front().value;
    box.max = sorted.back().value;
    box.q1 = *q1;
    box.q3 = *q3;
    box.median = *p.Figure("Median");
    box.trimmed_mean = *p.Figure("TrimmedMean");
    std::tie(box.whisker_low, box.whisker_high) = Whiskers(sorted, box.q1, box.q3);
    p.box = box;
  }
}

// ---- Text fields: one frequency count ----

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
  double total = 0;
  for (auto& [key, f] : tally) {
    total += f.weight;
    all.push_back(std::move(f));
  }
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

// ---- Against the target ----

void ProfileSegmentation(const ReportRequest& r, FieldProfile& p, NotePresenter& notes) {
  qel::QelBivariate b;
  b.SetConnectionString(r.connection_string);
  b.SetSource(r.source);
  b.SetPredictorField(p.name);
  b.SetTargetField(r.target);
  b.SetWeightField(r.weight);
  b.SetBinCount(static_cast<std::int16_t>(r.bins));
  b.SetshowStatus(false);
  Segmentation seg;
  seg.ran = b.Run();
  seg.note = notes.Take();
  seg.categorical = b.Categorical();
  seg.psi = b.PSI();
  seg.di = b.DI();
  seg.target_mean = b.TargetMean();
  seg.n = b.N();
  seg.missing = b.Missing();
  if (seg.ran) {
    if (const auto table = b.ResultSet(); table && !(table->IsBOF() && table->IsEOF())) {
      const qeldata::Fields cols = table->GetFields();
      for (table->MoveFirst(); !table->IsEOF(); table->MoveNext()) {
        seg.rows.push_back({cols.Item(0).GetValue().AsText(), NumberOf(cols.Item(1).GetValue()),
                            cols.Item(2).GetValue().AsText(), cols.Item(3).GetValue().AsText(),
                            NumberOf(cols.Item(4).GetValue()), NumberOf(cols.Item(5).GetValue())});
      }
    }
  } else if (seg.note.empty()) {
    seg.note = "the bivariate run returned no result";
  }
  p.segmentation = std::move(seg);
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
  int passes = 0;
  for (const Column& c : chosen) {
    if (r.on_field) r.on_field(c.name, static_cast<int>(in.fields.size()) + 1, static_cast<int>(chosen.size()));
    FieldProfile p;
    p.name = c.name;
    p.type_name = KindOfType(c.type);
    p.is_target = c.name == in.target;
    p.is_weight = c.name == in.weight;
    if (IsTextLike(c.type)) {
      p.kind = FieldKind::kText;
      ProfileFrequencies(req, p);
      ++passes;
    } else {
      p.kind = FieldKind::kNumeric;
      ProfileUnivariate(req, p);
      ProfileOutliers(req, p, notes);
      passes += 2;
    }
    if (!in.target.empty() && !p.is_target) {
      ProfileSegmentation(req, p, notes);
      ++passes;
    }
    in.rows = std::max(in.rows, p.records);
    in.fields.push_back(std::move(p));
  }
  in.method_note = "Made in " + std::to_string(passes) +
                   " passes over the input: per numeric field a univariate run and an outlier run (mean \xC2\xB1 " +
                   qeldata::NumberText(r.outlier_sigmas) + " standard deviations), per text field one frequency count" +
                   (in.target.empty() ? std::string(".") : ", and per field a bivariate run against " + in.target + ".");
  return in;
}

}  // namespace qelcli

// The data a qelstats report shows: plain values, filled by BuildReportInput
// (report_input.h) and drawn by RenderReportHtml (report_html.h). Nothing here
// knows where the figures came from, so the source of the figures can change
// without touching the page.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace qelcli {

// One distinct value of a numeric field with the records and weight it carries.
struct ValueWeight {
  double value = 0;
  double count = 0;   // records
  double weight = 0;  // total weight (the record count when unweighted)
};

// Equal-width bins from the smallest to the largest value: edges.size() is
// weights.size() + 1, and bin i holds the values in [edges[i], edges[i+1])
// (the last bin also holds its upper edge).
struct Histogram {
  std::vector<double> edges;
  std::vector<double> weights;
};

// The figures of a box plot. Whiskers reach the most extreme values within
// 1.5 IQR of the quartiles (Tukey's rule).
struct BoxPlot {
  double min = 0, whisker_low = 0, q1 = 0, median = 0, q3 = 0, whisker_high = 0, max = 0;
  double trimmed_mean = 0;
};

// Values outside mean +- sigmas * standard deviation.
struct OutlierBand {
  double sigmas = 0;
  double lower = 0, upper = 0;
  double count = 0;   // records
  double weight = 0;  // their weight
  std::vector<ValueWeight> lowest;   // the most extreme low outliers, most extreme first
  std::vector<ValueWeight> highest;  // the most extreme high outliers, most extreme first
};

// One frequent value of a field, text or otherwise.
struct Frequency {
  std::string value;
  double count = 0;
  double weight = 0;
};

// One bin of the segmentation of a field against the target.
struct SegmentRow {
  std::string bin;
  double n = 0;
  std::string min, max;  // as the segmentation wrote them (text for categories)
  double target_mean = 0;
  double index = 0;
};

struct Segmentation {
  bool ran = false;
  bool categorical = false;
  double psi = 0, di = 0;
  double target_mean = 0;
  double n = 0, missing = 0;
  std::vector<SegmentRow> rows;
  std::string note;  // why it did not run, or what it said
};

enum class FieldKind { kNumeric, kText };

struct FieldProfile {
  std::string name;
  FieldKind kind = FieldKind::kNumeric;
  std::string type_name;  // "adInteger", "adVarWChar", ...
  bool is_target = false;
  bool is_weight = false;

  double records = 0;  // records read
  double missing = 0;  // records without a usable value (or weight)
  double distinct = 0;

  // The univariate figures in reading order, under their property names
  // ("N", "WgtN", ..., "Kurtosis"); empty for text fields.
  std::vector<std::pair<std::string, double>> figures;
  bool figures_complete = false;  // the univariate run went to its end
  std::string note;               // why some figures are missing
  std::string reading_note;       // why a column of numbers reads as text

  std::optional<Histogram> histogram;
  std::optional<BoxPlot> box;
  std::optional<OutlierBand> outliers;

  // Text fields: the most frequent values, most frequent first.
  std::vector<Frequency> top_values;
  double other_weight = 0;  // weight of the values not listed

  std::optional<Segmentation> segmentation;  // with a target, for every other field

  double MissingShare() const { return records > 0 ? missing / records : 0; }
  // A figure by name; nullopt when the field has none.
  std::optional<double> Figure(const std::string& name) const;
};

struct ReportInput {
  std::string input_name;
  double rows = 0;
  double field_count = 0;  // fields of the input (the report may show fewer)
  std::string timestamp;   // when the report was made, ISO 8601 UTC
  std::string weight;      // weight field, or empty
  std::string target;      // target field, or empty
  int bins = 0;            // requested segmentation bins
  std::vector<FieldProfile> fields;
  std::string method_note;  // how the figures were made (passes over the input)
};

// Equal-width histogram of `sorted` (ascending distinct values with weights)
// with at most `max_bins` bins: fewer when there are fewer distinct values.
// Empty when `sorted` is empty.
Histogram MakeHistogram(std::span<const ValueWeight> sorted, int max_bins);

// Whiskers of a box plot from the quartiles and the sorted distinct values:
// the smallest value >= Q1 - 1.5 IQR and the largest <= Q3 + 1.5 IQR.
// REQUIRES: !sorted.empty().
std::pair<double, double> Whiskers(std::span<const ValueWeight> sorted, double q1, double q3);

}  // namespace qelcli

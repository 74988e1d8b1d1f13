#include "report_html.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

#include "cli_common.h"

namespace qelcli {

namespace {

// ---- Text ----

// Bytes of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

std::string Attr(std::string_view text, std::size_t max_chars) { return HtmlEscape(text, max_chars); }

// Coordinates with one decimal: enough for a screen, short in the file.
std::string C(double x) {
  if (!std::isfinite(x)) x = 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", x);
  std::string s(buf);
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
  return s == "-0" ? "0" : s;
}

// A short axis label: three significant digits, k/M/G for large magnitudes.
std::string AxisLabel(double x) {
  if (!std::isfinite(x)) return "";
  const double m = std::fabs(x);
  const char* suffix = "";
  double shown = x;
  if (m >= 1e9) shown = x / 1e9, suffix = "G";
  else if (m >= 1e6) shown = x / 1e6, suffix = "M";
  else if (m >= 1e4) shown = x / 1e3, suffix = "k";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.3g%s", shown, suffix);
  return buf;
}

// Round numbers (1, 2 or 5 times a power of ten) covering [lo, hi].
std::vector<double> NiceTicks(double lo, double hi, int wanted) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) return {};
  if (hi < lo) std::swap(lo, hi);
  if (hi == lo) return {lo};
  const double raw = (hi - lo) / std::max(wanted, 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (double f : {1.0, 2.0, 5.0, 10.0}) {
    step = f * power;
    if (step >= raw) break;
  }
  std::vector<double> ticks;
  for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9 && ticks.size() < 50; t += step)
    ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  return ticks;
}

// A linear map from data to pixels.
struct Scale {
  double d0, d1, r0, r1;
  double operator()(double v) const { return d1 == d0 ? (r0 + r1) / 2 : r0 + (v - d0) * (r1 - r0) / (d1 - d0); }
};

// Widens [lo, hi] to the round ticks around it.
std::pair<double, double> NiceDomain(double lo, double hi) {
  auto ticks = NiceTicks(lo, hi, 5);
  if (ticks.size() < 2) return {lo, hi == lo ? lo + 1 : hi};
  const double step = ticks[1] - ticks[0];
  return {std::min(lo, ticks.front() > lo ? ticks.front() - step : ticks.front()),
          std::max(hi, ticks.back() < hi ? ticks.back() + step : ticks.back())};
}


// The marks of one chart, gathered by kind so that each kind is written once:
// all grid lines in one path, all axis lines in another, labels grouped by
// their anchor. This keeps a chart to a few kilobytes.
class Marks {
 public:
  void Grid(double x1, double y1, double x2, double y2) { Segment(grid_, x1, y1, x2, y2); }
  void Axis(double x1, double y1, double x2, double y2) { Segment(axis_, x1, y1, x2, y2); }
  // anchor: 0 start, 1 middle, 2 end.
  void Label(int anchor, double x, double y, const std::string& text) {
    labels_[anchor] += "<text x=\"" + C(x) + "\" y=\"" + C(y) + "\">" + text + "</text>";
  }
  void Raw(const std::string& markup) { raw_ += markup; }
  std::string str() const {
    std::string s;
    if (!grid_.empty()) s += "<path class=\"grid\" d=\"" + grid_ + "\"/>";
    s += raw_;
    if (!axis_.empty()) s += "<path class=\"axis\" d=\"" + axis_ + "\"/>";
    static const char* kAnchors[] = {"start", "middle", "end"};
    for (int a = 0; a < 3; ++a)
      if (!labels_[a].empty()) s += "<g text-anchor=\"" + std::string(kAnchors[a]) + "\">" + labels_[a] + "</g>";
    return s;
  }

 private:
  static void Segment(std::string& path, double x1, double y1, double x2, double y2) {
    path += "M" + C(x1) + " " + C(y1) + "L" + C(x2) + " " + C(y2);
  }
  std::string grid_, axis_, raw_;
  std::string labels_[3];
};
constexpr int kStart = 0, kMiddle = 1, kEnd = 2;

std::string SvgOpen(const char* cls, int w, int h, const std::string& label) {
  return "<svg class=\"chart " + std::string(cls) + "\" viewBox=\"0 0 " + std::to_string(w) + " " + std::to_string(h) +
         "\" width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) + "\" role=\"img\" aria-label=\"" +
         label + "\">";
}

// A chart's caption or axis title; rotate: 0, or -90/90 for a vertical axis.
std::string Title(double x, double y, const std::string& text, int rotate = 0, const char* cls = "title") {
  if (rotate == 0)
    return "<text class=\"" + std::string(cls) + "\" x=\"" + C(x) + "\" y=\"" + C(y) + "\" text-anchor=\"middle\">" + text +
           "</text>";
  return "<text class=\"title\" transform=\"translate(" + C(x) + "," + C(y) + ") rotate(" + std::to_string(rotate) +
         ")\" text-anchor=\"middle\">" + text + "</text>";
}

// One bar of a bar chart as path commands: from `base` up (or down) to `top`.
std::string BarPath(double x, double width, double top, double base) {
  return "M" + C(x) + " " + C(std::min(top, base)) + "h" + C(width) + "v" + C(std::fabs(base - top)) + "h-" + C(width) +
         "z";
}

// A left axis with round ticks, horizontal grid lines and a rotated title.
void LeftAxis(Marks& m, const Scale& y, double x, double x_end, const std::string& title, double title_x) {
  for (double t : NiceTicks(y.d0, y.d1, 4)) {
    m.Grid(x, y(t), x_end, y(t));
    m.Label(kEnd, x - 4, y(t) + 3, AxisLabel(t));
  }
  m.Axis(x, y.r0, x, y.r1);
  m.Raw(Title(title_x, (y.r0 + y.r1) / 2, title, -90));
}

// ---- Charts ----

std::string HistogramSvg(const FieldProfile& f, const ReportInput& in, const ReportLimits& lim) {
  const Histogram& h = *f.histogram;
  if (h.weights.empty() || h.weights.size() > lim.histogram_bins || h.edges.size() != h.weights.size() + 1) return "";
  const int W = 380, H = 190;
  const double left = 52, right = W - 12, top = 10, bottom = H - 42;
  const double ymax = *std::max_element(h.weights.begin(), h.weights.end());
  const auto [y0, y1] = NiceDomain(0, ymax > 0 ? ymax : 1);
  const Scale y{y0, y1, bottom, top};
  const bool single = h.edges.front() == h.edges.back();
  const Scale x{h.edges.front(), h.edges.back(), left, right};
  const std::string name = HtmlEscape(f.name, 40);
  Marks m;
  LeftAxis(m, y, left, right, in.weight.empty() ? "Records" : "Weight", 14);
  std::string bars;
  for (std::size_t i = 0; i < h.weights.size(); ++i) {
    const double x0 = single ? left + (right - left) * 0.3 : x(h.edges[i]);
    const double x1 = single ? right - (right - left) * 0.3 : x(h.edges[i + 1]);
    bars += BarPath(x0 + 0.5, std::max(x1 - x0 - 1, 0.5), y(h.weights[i]), bottom);
  }
  m.Raw("<path class=\"bar\" d=\"" + bars + "\"/>");
  m.Axis(left, bottom, right, bottom);
  // Bin edges on the axis: all of them when they fit, else every k-th and the last.
  const std::size_t edges = h.edges.size();
  if (single) {
    m.Label(kMiddle, (left + right) / 2, bottom + 14, AxisLabel(h.edges.front()));
  } else {
    const std::size_t every = edges <= 9 ? 1 : (edges + 6) / 7;
    const std::size_t last = edges - 1, last_multiple = last / every * every;
    for (std::size_t i = 0; i < edges; ++i) {
      // Every k-th edge and the last one; a k-th edge crowding the last gives way.
      const bool labelled = i == last || (i % every == 0 && !(i == last_multiple && (last - i) * 2 < every));
      if (!labelled) continue;
      m.Axis(x(h.edges[i]), bottom, x(h.edges[i]), bottom + 4);
      m.Label(kMiddle, x(h.edges[i]), bottom + 15, AxisLabel(h.edges[i]));
    }
  }
  m.Raw(Title((left + right) / 2, H - 6, name + " (" + std::to_string(h.weights.size()) + " equal-width bins)"));
  return SvgOpen("histogram", W, H, "Histogram of " + name) + m.str() + "</svg>";
}

std::string BoxPlotSvg(const FieldProfile& f) {
  const BoxPlot& b = *f.box;
  const int W = 380, H = 92;
  const double left = 12, right = W - 12, mid = 32, half = 14, axis_y = 58;
  const auto [d0, d1] = b.min == b.max ? std::pair{b.min - 1, b.max + 1} : std::pair{b.min, b.max};
  const Scale x{d0, d1, left, right};
  Marks m;
  for (double t : NiceTicks(d0, d1, 6)) {
    m.Axis(x(t), axis_y, x(t), axis_y + 4);
    m.Label(kMiddle, x(t), axis_y + 15, AxisLabel(t));
  }
  m.Axis(left, axis_y, right, axis_y);
  // Whiskers with their end caps, the box, the median, the extremes beyond the
  // whiskers and the trimmed mean.
  const double wl = x(b.whisker_low), wh = x(b.whisker_high);
  m.Axis(wl, mid, wh, mid);
  m.Axis(wl, mid - half / 2, wl, mid + half / 2);
  m.Axis(wh, mid - half / 2, wh, mid + half / 2);
  std::string marks = "<rect class=\"box\" x=\"" + C(x(b.q1)) + "\" y=\"" + C(mid - half) + "\" width=\"" +
                      C(std::max(x(b.q3) - x(b.q1), 1.0)) + "\" height=\"" + C(2 * half) + "\"/>";
  marks += "<path class=\"median\" d=\"M" + C(x(b.median)) + " " + C(mid - half) + "v" + C(2 * half) + "\"/>";
  if (b.min < b.whisker_low) marks += "<circle class=\"far\" cx=\"" + C(x(b.min)) + "\" cy=\"" + C(mid) + "\" r=\"3\"/>";
  if (b.max > b.whisker_high) marks += "<circle class=\"far\" cx=\"" + C(x(b.max)) + "\" cy=\"" + C(mid) + "\" r=\"3\"/>";
  marks += "<path class=\"tmean\" d=\"M" + C(x(b.trimmed_mean)) + " " + C(mid - 6) + "l5 6l-5 6l-5 -6z\"/>";
  m.Raw(marks);
  m.Raw(Title(W / 2.0, H - 4, "box Q1\u2013Q3 \u00B7 bar median \u00B7 \u25C6 trimmed mean \u00B7 whiskers 1.5 IQR", 0,
              "note"));
  return SvgOpen("boxplot", W, H, "Box plot of " + HtmlEscape(f.name, 40)) + m.str() + "</svg>";
}

std::string TopValuesSvg(const FieldProfile& f, const ReportLimits& lim) {
  const std::size_t n = std::min(f.top_values.size(), lim.top_values);
  if (n == 0) return "";
  const int W = 380, row = 18, H = static_cast<int>(n) * row + 30;
  const double label_w = 130, left = label_w + 6, right = W - 96;
  double total = f.other_weight;
  for (const auto& v : f.top_values) total += v.weight;
  const double top_weight = f.top_values.front().weight;
  const Scale x{0, top_weight > 0 ? top_weight : 1, left, right};
  Marks m;
  std::string bars;
  for (std::size_t i = 0; i < n; ++i) {
    const Frequency& v = f.top_values[i];
    const double yy = 6 + static_cast<double>(i) * row;
    m.Label(kEnd, label_w, yy + 12, HtmlEscape(v.value, 18));
    bars += BarPath(left, std::max(x(v.weight) - left, 0.5), yy + 2, yy + row - 3);
    const double share = total > 0 ? v.weight / total * 100 : 0;
    m.Label(kStart, x(v.weight) + 4, yy + 12,
            ReadableNumber(v.weight) + " (" + ReadableNumber(std::round(share * 10) / 10) + "%)");
  }
  m.Raw("<path class=\"bar\" d=\"" + bars + "\"/>");
  m.Axis(left, 4, left, 6 + static_cast<double>(n) * row);
  m.Raw(Title((left + right) / 2, H - 6, "Most frequent values (weight, share of all)"));
  return SvgOpen("topvalues", W, H, "Most frequent values of " + HtmlEscape(f.name, 40)) + m.str() + "</svg>";
}

std::string SegmentationSvg(const FieldProfile& f, const ReportInput& in, const ReportLimits& lim) {
  const Segmentation& seg = *f.segmentation;
  const std::size_t n = std::min(seg.rows.size(), lim.segment_rows);
  if (n == 0) return "";
  const int W = 560, H = 220;
  const double left = 56, right = W - 50, top = 12, bottom = H - 40;
  double lo = std::min(0.0, seg.target_mean), hi = std::max(0.0, seg.target_mean);
  for (std::size_t i = 0; i < n; ++i)
    if (std::isfinite(seg.rows[i].target_mean))
      lo = std::min(lo, seg.rows[i].target_mean), hi = std::max(hi, seg.rows[i].target_mean);
  const auto [d0, d1] = NiceDomain(lo, hi == lo ? lo + 1 : hi);
  const Scale y{d0, d1, bottom, top};
  const double band = (right - left) / static_cast<double>(n);
  const std::string target = HtmlEscape(in.target, 40);
  Marks m;
  LeftAxis(m, y, left, right, "Mean " + target, 14);
  const double base = y(std::clamp(0.0, d0, d1));
  std::string points, bars;
  for (std::size_t i = 0; i < n; ++i) {
    const SegmentRow& r = seg.rows[i];
    const double cx = left + band * (static_cast<double>(i) + 0.5);
    // Categories are named on the axis (shortened), bins numbered.
    if (n <= 20 || i % ((n + 14) / 15) == 0)
      m.Label(kMiddle, cx, bottom + 14, seg.categorical ? HtmlEscape(r.min, 7) : HtmlEscape(r.bin, 6));
    if (!std::isfinite(r.target_mean)) continue;  // a bin without a mean has no bar and no point
    const double yt = y(r.target_mean);
    bars += BarPath(cx - band * 0.35, band * 0.7, yt, base);
    points += (points.empty() ? "" : " ") + C(cx) + "," + C(yt);
  }
  m.Raw("<path class=\"bar\" d=\"" + bars + "\"/>");
  m.Axis(left, base, right, base);
  // The index is the bin mean in percent of the overall mean: its line joins
  // the bar tops, and its axis on the right puts 100 on the overall mean.
  if (seg.target_mean != 0) {
    m.Raw("<polyline class=\"index\" points=\"" + points + "\"/>");
    const double i0 = d0 / seg.target_mean * 100, i1 = d1 / seg.target_mean * 100;
    for (double t : NiceTicks(std::min(i0, i1), std::max(i0, i1), 4)) {
      const double yy = y(t * seg.target_mean / 100);
      m.Axis(right, yy, right + 4, yy);
      m.Label(kStart, right + 6, yy + 3, AxisLabel(t));
    }
    m.Axis(right, top, right, bottom);
    m.Raw(Title(W - 6.0, (top + bottom) / 2, "Index", 90));
  }
  const double ym = y(seg.target_mean);
  m.Raw("<path class=\"overall\" d=\"M" + C(left) + " " + C(ym) + "H" + C(right) + "\"/>");
  m.Raw("<text class=\"halo\" x=\"" + C(left + 4) + "\" y=\"" + C(ym - 4) + "\">overall mean " +
        ReadableNumber(seg.target_mean) + "</text>");
  m.Raw(Title((left + right) / 2, H - 6,
              std::string(seg.categorical ? "Category" : "Bin") + " of " + HtmlEscape(f.name, 40) +
                  " (bars: mean of " + target + "; line: index)"));
  return SvgOpen("segmentation", W, H, "Mean of " + target + " by bin of " + HtmlEscape(f.name, 40)) + m.str() +
         "</svg>";
}

// A tiny chart for the overview: the histogram, or the frequent values.
std::string SparklineSvg(const FieldProfile& f) {
  std::vector<double> bars;
  if (f.histogram) {
    // At most 16 bars: neighbouring bins are added together.
    const auto& weights = f.histogram->weights;
    const std::size_t group = (weights.size() + 15) / 16;
    for (std::size_t i = 0; i < weights.size(); ++i) {
      if (i % group == 0) bars.push_back(0);
      bars.back() += weights[i];
    }
  } else {
    for (std::size_t i = 0; i < f.top_values.size() && i < 8; ++i) bars.push_back(f.top_values[i].weight);
  }
  if (bars.empty()) return "";
  const double W = 84, H = 22;
  const double top = *std::max_element(bars.begin(), bars.end());
  const double w = W / static_cast<double>(bars.size());
  std::string bars_path;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const double h = top > 0 ? std::max(bars[i] / top * (H - 1), bars[i] > 0 ? 1.0 : 0.0) : 0;
    if (h > 0) bars_path += BarPath(w * static_cast<double>(i), std::max(w - 1, 0.6), H - h, H);
  }
  return "<svg class=\"spark\" viewBox=\"0 0 84 22\" width=\"84\" height=\"22\" aria-hidden=\"true\"><path d=\"" +
         bars_path + "\"/></svg>";
}

// ---- Page parts ----

// A number cell: readable text, with the exact value for machines.
std::string NumberCell(const std::string& stat, double value) {
  return "<td data-stat=\"" + stat + "\" data-value=\"" + JsonNumber(value) + "\">" + ReadableNumber(value) +
         "</td>";
}

std::string Percent(double share) {
  char buf[32];
  std::snprintf(buf, sizeof buf, share > 0 && share < 0.001 ? "%.2f%%" : "%.1f%%", share * 100);
  return buf;
}

const char* KindName(FieldKind k) { return k == FieldKind::kNumeric ? "numeric" : "text"; }

std::string FiguresTable(const FieldProfile& f) {
  std::string s = "<table class=\"figures\"><tbody>";
  s += "<tr><th>Records</th>" + NumberCell("Records", f.records) + "</tr>";
  s += "<tr><th>Missing</th><td class=\"n\" data-stat=\"MissingShare\" data-value=\"" + JsonNumber(f.MissingShare()) +
       "\">" + ReadableNumber(f.missing) + " (" + Percent(f.MissingShare()) + ")</td></tr>";
  s += "<tr><th>Distinct</th>" + NumberCell("Distinct", f.distinct) + "</tr>";
  for (const auto& [name, value] : f.figures)
    if (name != "Missing") s += "<tr><th>" + HtmlEscape(name, 40) + "</th>" + NumberCell(HtmlEscape(name, 40), value) + "</tr>";
  return s + "</tbody></table>";
}

std::string OutlierBlock(const FieldProfile& f, const ReportLimits& lim) {
  const OutlierBand& o = *f.outliers;
  std::string s = "<div class=\"outliers\"><h3>Outliers</h3><p>Beyond the mean &#177; " + ReadableNumber(o.sigmas) +
                  " standard deviations (below " + ReadableNumber(o.lower) + " or above " + ReadableNumber(o.upper) +
                  "): <b data-stat=\"OutlierCountN\" data-value=\"" + JsonNumber(o.count) + "\">" +
                  ReadableNumber(o.count) + "</b> records";
  if (o.weight != o.count) s += ", weight " + ReadableNumber(o.weight);
  s += ".</p>";
  auto list = [&](const char* label, const std::vector<ValueWeight>& values) {
    if (values.empty()) return;
    s += "<p>" + std::string(label) + ": ";
    for (std::size_t i = 0; i < values.size() && i < lim.extremes; ++i) {
      s += (i ? ", " : "") + ReadableNumber(values[i].value);
      if (values[i].count != 1) s += " (&#215;" + ReadableNumber(values[i].count) + ")";
    }
    s += "</p>";
  };
  list("Lowest", o.lowest);
  list("Highest", o.highest);
  return s + "</div>";
}

std::string SegmentationBlock(const FieldProfile& f, const ReportInput& in, const ReportLimits& lim) {
  const Segmentation& seg = *f.segmentation;
  std::string s = "<div class=\"segmentation\"><h3>Against " + HtmlEscape(in.target, lim.text_chars) + "</h3>";
  if (!seg.ran) {
    return s + "<p class=\"warn\">No segmentation: " + HtmlEscape(seg.note, lim.text_chars * 2) + "</p></div>";
  }
  s += "<p>" + std::string(seg.categorical ? "One bin per category" : "Bins of about equal weight") +
       ". DI <b data-stat=\"DI\" data-value=\"" + JsonNumber(seg.di) + "\">" + ReadableNumber(seg.di) +
       "</b>, PSI <b data-stat=\"PSI\" data-value=\"" + JsonNumber(seg.psi) + "\">" + ReadableNumber(seg.psi) +
       "</b>, overall mean of the target <b data-stat=\"TargetMean\" data-value=\"" + JsonNumber(seg.target_mean) +
       "\">" + ReadableNumber(seg.target_mean) + "</b>.</p>";
  s += SegmentationSvg(f, in, lim);
  const std::string target = HtmlEscape(in.target, 40), name = HtmlEscape(f.name, 40);
  s += "<table class=\"bins\"><thead><tr><th>Bin</th><th>N</th><th>Min " + name + "</th><th>Max " + name +
       "</th><th>Mean " + target + "</th><th>Index</th></tr></thead><tbody>";
  const std::size_t n = std::min(seg.rows.size(), lim.segment_rows);
  for (std::size_t i = 0; i < n; ++i) {
    const SegmentRow& r = seg.rows[i];
    s += "<tr><td>" + HtmlEscape(r.bin, 12) + "</td><td>" + ReadableNumber(r.n) + "</td><td>" + HtmlEscape(r.min, 20) +
         "</td><td>" + HtmlEscape(r.max, 20) + "</td><td>" + ReadableNumber(r.target_mean) + "</td><td>" +
         ReadableNumber(r.index) +
         "</td></tr>";
  }
  s += "</tbody></table>";
  if (seg.rows.size() > n)
    s += "<p class=\"note\">" + ReadableNumber(static_cast<double>(seg.rows.size() - n)) +
         " more bins are not shown.</p>";
  if (!seg.note.empty()) s += "<p class=\"note\">" + HtmlEscape(seg.note, lim.text_chars * 2) + "</p>";
  return s + "</div>";
}

std::string FieldSection(const FieldProfile& f, std::size_t number, const ReportInput& in, const ReportLimits& lim) {
  std::string s = "<section class=\"field\" id=\"field-" + std::to_string(number) + "\" data-field=\"" +
                  Attr(f.name, lim.text_chars) + "\" data-kind=\"" + KindName(f.kind) + "\">";
  s += "<h2>" + HtmlEscape(f.name, lim.text_chars) + " <span class=\"tag\">" + KindName(f.kind);
  if (f.type_name != KindName(f.kind)) s += ", " + HtmlEscape(f.type_name, 20);
  s += "</span>";
  if (f.is_target) s += " <span class=\"tag role\">target</span>";
  if (f.is_weight) s += " <span class=\"tag role\">weight</span>";
  s += "</h2><div class=\"cols\">" + FiguresTable(f) + "<div class=\"charts\">";
  if (f.histogram) s += HistogramSvg(f, in, lim);
  if (f.box) s += BoxPlotSvg(f);
  if (!f.top_values.empty()) s += TopValuesSvg(f, lim);
  s += "</div></div>";
  if (!f.note.empty()) s += "<p class=\"warn\">" + HtmlEscape(f.note, lim.text_chars * 2) + "</p>";
  if (!f.reading_note.empty()) s += "<p class=\"warn\">" + HtmlEscape(f.reading_note, lim.text_chars * 2) + "</p>";
  if (f.outliers) s += OutlierBlock(f, lim);
  if (f.segmentation) s += SegmentationBlock(f, in, lim);
  return s + "</section>\n";
}

// The order of the overview: with a target, by DI from the highest down
// (fields without one last, in input order); otherwise input order.
std::vector<std::size_t> OverviewOrder(const ReportInput& in) {
  std::vector<std::size_t> order(in.fields.size());
  std::iota(order.begin(), order.end(), 0);
  if (in.target.empty()) return order;
  auto di = [&](std::size_t i) {
    const auto& seg = in.fields[i].segmentation;
    return seg && seg->ran ? std::optional<double>(seg->di) : std::nullopt;
  };
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const auto da = di(a), db = di(b);
    if (da && db) return *da > *db;
    return da.has_value() && !db.has_value();
  });
  return order;
}

std::string Overview(const ReportInput& in) {
  const bool target = !in.target.empty();
  std::string s =
      "<table id=\"overview\"><caption>" +
      std::string(target ? "Ranked by DI against the target, highest first." : "In the order of the input.") +
      " <span class=\"noprint\">Click a column heading to sort.</span></caption><thead><tr>"
      "<th scope=\"col\" data-text>Field</th><th scope=\"col\" data-text>Type</th><th scope=\"col\">Missing</th>"
      "<th scope=\"col\">Distinct</th><th scope=\"col\">Mean or most frequent</th><th scope=\"col\" data-nosort>Shape</th>";
  if (target) s += "<th scope=\"col\">DI</th><th scope=\"col\">PSI</th>";
  s += "</tr></thead><tbody>";
  for (std::size_t i : OverviewOrder(in)) {
    const FieldProfile& f = in.fields[i];
    const std::string name = HtmlEscape(f.name, 60);
    s += "<tr data-field=\"" + name + "\"><td><a href=\"#field-" +
         std::to_string(i + 1) + "\">" + name + "</a>";
    if (f.is_target) s += " <span class=\"tag role\">target</span>";
    if (f.is_weight) s += " <span class=\"tag role\">weight</span>";
    s += "</td><td>" + std::string(KindName(f.kind)) + "</td>";
    s += "<td class=\"n\" data-sort=\"" + JsonNumber(f.MissingShare()) + "\">" + Percent(f.MissingShare()) + "</td>";
    s += "<td class=\"n\" data-sort=\"" + JsonNumber(f.distinct) + "\">" + ReadableNumber(f.distinct) + "</td>";
    if (const auto mean = f.Figure("Mean"); mean && f.kind == FieldKind::kNumeric) {
      s += "<td class=\"n\" data-sort=\"" + JsonNumber(*mean) + "\">" + ReadableNumber(*mean) + "</td>";
    } else if (!f.top_values.empty()) {
      const std::string v = HtmlEscape(f.top_values.front().value, 24);
      s += "<td data-sort=\"" + v + "\">&#8220;" + v + "&#8221; (" + ReadableNumber(f.top_values.front().weight) + ")</td>";
    } else {
      s += "<td data-sort=\"\"></td>";
    }
    s += "<td>" + SparklineSvg(f) + "</td>";
    if (target) {
      const auto& seg = f.segmentation;
      if (seg && seg->ran)
        s += "<td class=\"n\" data-sort=\"" + JsonNumber(seg->di) + "\">" + ReadableNumber(seg->di) +
             "</td><td class=\"n\" data-sort=\"" + JsonNumber(seg->psi) + "\">" + ReadableNumber(seg->psi) + "</td>";
      else
        s += "<td data-sort=\"\"></td><td data-sort=\"\"></td>";
    }
    s += "</tr>";
  }
  return s + "</tbody></table>";
}

const char* kStyle = R"(
:root{--ink:#1b1f24;--muted:#5b6470;--line:#c8ced6;--bar:#4a6fa5;--box:#c9d6ea;--accent:#d95f02}
*{box-sizing:border-box}svg.defs{position:absolute}
body{font:14px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;color:var(--ink);margin:0 auto;max-width:1180px;padding:18px 22px}
h1{font-size:22px;margin:0 0 4px}h2{font-size:18px;margin:0 0 8px;border-bottom:2px solid var(--ink);padding-bottom:2px;overflow-wrap:anywhere}
h3{font-size:15px;margin:12px 0 4px}
.meta{display:flex;flex-wrap:wrap;gap:4px 22px;margin:6px 0 14px;color:var(--muted)}.meta b{color:var(--ink)}
table{border-collapse:collapse}th,td{padding:3px 8px;border-bottom:1px solid var(--line);text-align:left;vertical-align:middle}
td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
#overview{width:100%;margin-bottom:24px}#overview caption{text-align:left;color:var(--muted);padding:4px 0}
#overview thead th{border-bottom:2px solid var(--ink);white-space:nowrap}
#overview th.sortable{cursor:pointer;user-select:none}#overview th.sortable:after{content:" \2195";color:var(--muted)}
#overview th[aria-sort=descending]:after{content:" \2193";color:var(--ink)}#overview th[aria-sort=ascending]:after{content:" \2191";color:var(--ink)}
#overview td:first-child{overflow-wrap:anywhere;max-width:320px}
.tag{font-size:12px;font-weight:normal;color:var(--muted);border:1px solid var(--line);border-radius:3px;padding:0 4px}
.tag.role{color:#fff;background:var(--ink);border-color:var(--ink)}
section.field{margin:0 0 26px;break-inside:avoid-page}
.cols{display:flex;flex-wrap:wrap;gap:18px;align-items:flex-start}.charts{display:flex;flex-direction:column;gap:6px}
table.figures th{font-weight:normal;color:var(--muted)}table.figures td{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}table.figures td,table.figures th{padding:1px 8px}
table.bins{margin-top:6px}table.bins td{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}table.bins th{border-bottom:2px solid var(--ink)}
svg.chart{display:block;max-width:100%;height:auto;font-size:10px;fill:var(--ink)}
svg .bar,svg.spark path{fill:var(--bar)}svg .grid{stroke:#e3e7ec}svg .axis{stroke:var(--ink)}
svg .title{font-size:11px;fill:var(--muted)}svg .halo{paint-order:stroke;stroke:#fff;stroke-width:3px}svg .note{font-size:10px;fill:var(--muted)}
svg .box{fill:var(--box);stroke:var(--ink)}svg .median{stroke:var(--ink);stroke-width:3}svg .axis{fill:none}
svg .tmean{fill:var(--accent);stroke:var(--ink)}svg .far{fill:#fff;stroke:var(--ink)}
svg .overall{fill:none;stroke:var(--accent);stroke-width:2;stroke-dasharray:6 4}
svg .index{fill:none;stroke:var(--ink);stroke-width:1.5;marker:url(#dot)}
.warn{color:#8a2b00}.note{color:var(--muted);font-size:12px}
footer{color:var(--muted);font-size:12px;border-top:1px solid var(--line);padding-top:8px;margin-top:20px}
@media print{
 body{max-width:none;padding:0;font-size:10pt}.noprint{display:none}
 *{-webkit-print-color-adjust:exact;print-color-adjust:exact}
 #overview{page-break-after:always}section.field{break-inside:avoid;page-break-inside:avoid}
 a{color:inherit;text-decoration:none}
}
)";

// Sorting of the overview. The page reads the same without it; the attribute
// data-script on <html> tells a test that it ran, or what went wrong.
const char* kScript = R"(
(function(){
var root=document.documentElement;
window.addEventListener("error",function(e){root.setAttribute("data-script","error: "+e.message);});
var t=document.getElementById("overview");
if(t){var hs=t.tHead.rows[0].cells;
 var key=function(r,i){var c=r.cells[i],v=c.getAttribute("data-sort");
  return v===null?(c.firstChild?c.firstChild.textContent:""):v;};
 var cmp=function(a,b){var x=Number(a),y=Number(b),nx=!isNaN(x),ny=!isNaN(y);
  if(nx&&ny)return x-y;if(nx!==ny)return nx?-1:1;return a.localeCompare(b);};
 var sortBy=function(i){var h=hs[i],now=h.getAttribute("aria-sort");
  var desc=now?now==="ascending":!h.hasAttribute("data-text");
  var body=t.tBodies[0],rows=Array.prototype.slice.call(body.rows);
  rows.sort(function(r,s){var a=key(r,i),b=key(s,i);
   if(a===""||b==="")return (a==="")-(b==="");var d=cmp(a,b);return desc?-d:d;});
  rows.forEach(function(r){body.appendChild(r);});
  for(var k=0;k<hs.length;k++)hs[k].removeAttribute("aria-sort");
  h.setAttribute("aria-sort",desc?"descending":"ascending");};
 Array.prototype.forEach.call(hs,function(h,i){if(h.hasAttribute("data-nosort"))return;
  h.classList.add("sortable");h.tabIndex=0;
  h.addEventListener("click",function(){sortBy(i);});
  h.addEventListener("keydown",function(e){if(e.key==="Enter"||e.key===" "){e.preventDefault();sortBy(i);}});});}
if(!root.hasAttribute("data-script"))root.setAttribute("data-script","ready");
})();
)";

}  // namespace

std::string HtmlEscape(std::string_view text, std::size_t max_chars) {
  std::string out;
  out.reserve(std::min(text.size(), max_chars) + 16);
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    if (i >= max_chars) {
      out += "&#8230;";
      break;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
          out += "&#65533;";
        } else if (c >= 0x80) {
          // A whole, well-formed sequence is copied, or replaced: a cut never
          // splits a character and a stray byte never reaches the page.
          const std::size_t len = Utf8Length(c);
          bool valid = c >= 0xC2 && c <= 0xF4 && i + len <= text.size();
          for (std::size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
          if (!valid) {
            out += "&#65533;";
            continue;
          }
          if (i + len > max_chars) {
            out += "&#8230;";
            return out;
          }
          out.append(text.substr(i, len));
          i += len - 1;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string ReadableNumber(double x) {
  if (!std::isfinite(x)) return "n/a";
  const double m = std::fabs(x);
  char buf[64];
  if (m >= 1e15 || (m != 0 && m < 1e-4)) {
    std::snprintf(buf, sizeof buf, "%.4g", x);
    return buf;
  }
  // Six significant digits, never fewer than the whole part.
  const int whole_digits = m >= 1 ? static_cast<int>(std::floor(std::log10(m))) + 1 : 0;
  const int decimals = m >= 1 ? std::max(0, 6 - whole_digits) : 4 - static_cast<int>(std::floor(std::log10(m == 0 ? 1 : m))) - 1;
  std::snprintf(buf, sizeof buf, "%.*f", std::max(decimals, 0), x);
  std::string s(buf);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  // Group the whole part in thousands.
  const std::size_t sign = s[0] == '-' ? 1 : 0;
  std::size_t end = s.find('.');
  if (end == std::string::npos) end = s.size();
  for (std::ptrdiff_t at = static_cast<std::ptrdiff_t>(end) - 3; at > static_cast<std::ptrdiff_t>(sign); at -= 3)
    s.insert(static_cast<std::size_t>(at), ",");
  return s;
}

std::string RenderReportHtml(const ReportInput& in, const ReportLimits& lim) {
  const std::string title = "Report: " + HtmlEscape(in.input_name, lim.text_chars);
  std::string s = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                  "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
                  "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
                  "script-src 'unsafe-inline'; img-src data:\">"
                  "<title>" + title + "</title><style>" + kStyle + "</style></head>\n<body>\n";
  // The ring that marks the points of index lines, defined once for every chart.
  s += "<svg width=\"0\" height=\"0\" class=\"defs\" aria-hidden=\"true\"><defs><marker id=\"dot\" viewBox=\"0 0 8 8\" "
       "refX=\"4\" refY=\"4\" markerWidth=\"6\" markerHeight=\"6\" markerUnits=\"userSpaceOnUse\">"
       "<circle cx=\"4\" cy=\"4\" r=\"3\" fill=\"#fff\" stroke=\"#1b1f24\" stroke-width=\"1.5\"/></marker></defs></svg>\n";
  s += "<header><h1>" + title + "</h1><div class=\"meta\">";
  s += "<span>Input <b id=\"input-name\">" + HtmlEscape(in.input_name, lim.text_chars) + "</b></span>";
  s += "<span>Rows <b data-stat=\"Rows\" data-value=\"" + JsonNumber(in.rows) + "\">" + ReadableNumber(in.rows) +
       "</b></span>";
  s += "<span>Fields <b data-stat=\"Fields\" data-value=\"" + JsonNumber(in.field_count) + "\">" +
       ReadableNumber(in.field_count) + "</b>";
  if (in.fields.size() != static_cast<std::size_t>(in.field_count))
    s += " (" + std::to_string(in.fields.size()) + " profiled)";
  s += "</span>";
  s += "<span>Weight <b>" + (in.weight.empty() ? std::string("none") : HtmlEscape(in.weight, lim.text_chars)) +
       "</b></span>";
  if (!in.target.empty())
    s += "<span>Target <b>" + HtmlEscape(in.target, lim.text_chars) + "</b>, " + std::to_string(in.bins) +
         " bins</span>";
  s += "<span>Made <b>" + HtmlEscape(in.timestamp, 40) + "</b></span></div></header>\n<main>\n";
  s += Overview(in) + "\n";
  for (std::size_t i = 0; i < in.fields.size(); ++i) s += FieldSection(in.fields[i], i + 1, in, lim);
  s += "</main>\n<footer>" + HtmlEscape(in.method_note, 1000) + "</footer>\n<script>" + kScript +
       "</script>\n</body></html>\n";
  return s;
}

}  // namespace qelcli

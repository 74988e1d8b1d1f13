// The report's HTML writer and the figures it draws from.
#include "report_html.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "report_model.h"

namespace qelcli {
namespace {

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(HtmlEscape, MarkupQuotesAndControlsCannotBreakOut) {
  EXPECT_EQ(HtmlEscape("<script>alert('x')</script> & \"y\""),
            "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;y&quot;");
  EXPECT_EQ(HtmlEscape(std::string("a\0b\x1b" "c\td", 7)), "a&#65533;b&#65533;c\td");
}

TEST(HtmlEscape, CutsLongTextAtACharacterBoundary) {
  EXPECT_EQ(HtmlEscape("abcdef", 3), "abc&#8230;");
  EXPECT_EQ(HtmlEscape("abc", 3), "abc");
  // "é" is two bytes: a cut inside it drops the whole character.
  EXPECT_EQ(HtmlEscape("ab\xC3\xA9z", 3), "ab&#8230;");
  EXPECT_EQ(HtmlEscape("ab\xC3\xA9z", 4), "ab\xC3\xA9&#8230;");
  // A sequence cut short by the end of the text is not copied half.
  EXPECT_EQ(HtmlEscape("ab\xE2\x82"), "ab&#65533;&#65533;");
}

TEST(ReadableNumber, GroupsThousandsAndKeepsSixSignificantDigits) {
  EXPECT_EQ(ReadableNumber(0), "0");
  EXPECT_EQ(ReadableNumber(100000), "100,000");
  EXPECT_EQ(ReadableNumber(1234567), "1,234,567");
  EXPECT_EQ(ReadableNumber(1234567.891), "1,234,568");
  EXPECT_EQ(ReadableNumber(-1234.5), "-1,234.5");
  EXPECT_EQ(ReadableNumber(12.3456789), "12.3457");
  EXPECT_EQ(ReadableNumber(0.239123), "0.2391");
  EXPECT_EQ(ReadableNumber(-0.5), "-0.5");
  EXPECT_EQ(ReadableNumber(-99999), "-99,999");
  EXPECT_EQ(ReadableNumber(1e20), "1e+20");
  EXPECT_EQ(ReadableNumber(0.00001234), "1.234e-05");
  EXPECT_EQ(ReadableNumber(std::nan("")), "n/a");
  EXPECT_EQ(ReadableNumber(-0.0), "0");
}

TEST(MakeHistogram, EqualWidthBinsHoldEveryWeightOnce) {
  const std::vector<ValueWeight> values = {{0, 1, 1}, {1, 1, 2}, {2.5, 1, 1}, {5, 1, 1}, {10, 2, 3}};
  const Histogram h = MakeHistogram(values, 4);
  ASSERT_EQ(h.edges.size(), 5u);
  EXPECT_EQ(h.edges.front(), 0);
  EXPECT_EQ(h.edges.back(), 10);
  EXPECT_EQ(h.edges[2], 5);
  // [0,2.5): 0 and 1; [2.5,5): 2.5; [5,7.5): 5; [7.5,10]: 10, the top edge closing the last bin.
  EXPECT_EQ(h.weights, (std::vector<double>{3, 1, 1, 3}));
}

TEST(MakeHistogram, FewDistinctValuesOrOneValue) {
  const std::vector<ValueWeight> two = {{1, 1, 1}, {2, 1, 1}};
  EXPECT_EQ(MakeHistogram(two, 20).weights.size(), 2u);
  const std::vector<ValueWeight> one = {{7, 4, 4}};
  const Histogram h = MakeHistogram(one, 20);
  EXPECT_EQ(h.edges, (std::vector<double>{7, 7}));
  EXPECT_EQ(h.weights, (std::vector<double>{4}));
  EXPECT_TRUE(MakeHistogram({}, 20).weights.empty());
}

TEST(Whiskers, ReachTheLastValuesWithinOneAndAHalfIqr) {
  std::vector<ValueWeight> values;
  for (double v : {-50.0, 1.0, 2.0, 3.0, 4.0, 5.0, 9.0, 60.0}) values.push_back({v, 1, 1});
  // Q1 2, Q3 4: the band is [-1, 7].
  EXPECT_EQ(Whiskers(values, 2, 4), (std::pair<double, double>{1, 5}));
  // Everything inside: the whiskers are the extremes.
  EXPECT_EQ(Whiskers(values, -50, 60), (std::pair<double, double>{-50, 60}));
}

// A field with every part the page can show, at the sizes the limits allow.
FieldProfile FullField(const std::string& name, bool text) {
  FieldProfile f;
  f.name = name;
  f.kind = text ? FieldKind::kText : FieldKind::kNumeric;
  f.type_name = text ? "text" : "decimal";
  f.records = 1000;
  f.missing = 12;
  f.distinct = 900;
  if (text) {
    for (int i = 0; i < 50; ++i) f.top_values.push_back({std::string(300, 'v') + "<b>" + std::to_string(i), 50.0 - i, 50.0 - i});
    f.other_weight = 10;
  } else {
    for (const char* k : {"N", "WgtN", "Missing", "Sum", "Mean", "Variance", "Stdev", "CV", "Min", "Max", "Range",
                          "Cardinality", "Uniques", "Mode", "Median", "Q1", "Q3", "IQR", "TrimmedMean", "Skewness",
                          "Kurtosis"})
      f.figures.emplace_back(k, 123456.789012345);
    f.figures_complete = true;
    Histogram h;
    for (int i = 0; i <= 30; ++i) h.edges.push_back(i * 1.5);
    h.weights.assign(30, 17.25);
    f.histogram = h;
    f.box = BoxPlot{0, 1, 2, 3, 4, 5, 45, 3.1};
    OutlierBand o;
    o.sigmas = 3;
    o.count = 40;
    o.weight = 40;
    for (int i = 0; i < 20; ++i) o.lowest.push_back({-1e6 - i, 2, 2}), o.highest.push_back({1e6 + i, 1, 1});
    f.outliers = o;
  }
  Segmentation seg;
  seg.ran = true;
  seg.categorical = text;
  seg.di = 12.5;
  seg.psi = 3.25;
  seg.target_mean = 10;
  for (int i = 0; i < 400; ++i)
    seg.rows.push_back({std::to_string(i + 1), 25, std::string(200, 'm'), std::string(200, 'x'), 9.87654 + i, 99});
  f.segmentation = seg;
  return f;
}

ReportInput HostileReport() {
  ReportInput in;
  in.input_name = "<img src=x onerror=alert(1)>.csv";
  in.rows = 1000;
  in.field_count = 3;
  in.timestamp = "2024-01-02 03:04:05 UTC";
  in.target = "T\"arget<script>";
  in.bins = 10;
  in.fields.push_back(FullField("<script>alert(1)</script>", false));
  in.fields.push_back(FullField("name\" onmouseover=\"alert(1)", true));
  in.fields.push_back(FullField("https://example.com/x.js", false));
  in.method_note = "<b>note</b>";
  return in;
}

TEST(RenderReportHtml, TextFromTheDataIsEscapedEverywhere) {
  const std::string page = RenderReportHtml(HostileReport());
  EXPECT_EQ(Count(page, "<script"), 1u) << "only the page's own script";
  EXPECT_EQ(Count(page, "</script>"), 1u);
  EXPECT_EQ(Count(page, "<img"), 0u);
  EXPECT_EQ(Count(page, "<b>note"), 0u);
  EXPECT_EQ(page.find("\" onmouseover=\""), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find("data-field=\"name&quot; onmouseover=&quot;alert(1)\""), std::string::npos);
}

// The markup tags of a page, its script's text left out. Escaped text holds no
// '<', so everything from a '<' to the next '>' is markup the page wrote.
std::vector<std::string> Tags(const std::string& page) {
  std::string markup = page;
  const auto script = markup.find("<script>"), script_end = markup.find("</script>");
  if (script != std::string::npos && script_end != std::string::npos)
    markup.erase(script + 8, script_end - script - 8);
  std::vector<std::string> tags;
  for (auto at = markup.find('<'); at != std::string::npos; at = markup.find('<', at + 1))
    tags.push_back(markup.substr(at, markup.find('>', at) - at + 1));
  return tags;
}

// The attribute names of one tag; values are in double quotes.
std::vector<std::string> AttributeNames(const std::string& tag) {
  std::vector<std::string> names;
  std::size_t at = tag.find_first_of(" >");
  while (at < tag.size()) {
    at = tag.find_first_not_of(" />", at);
    if (at == std::string::npos) break;
    const std::size_t end = tag.find_first_of("= />", at);
    names.push_back(tag.substr(at, end - at));
    at = end;
    if (at < tag.size() && tag[at] == '=') at = tag.find('"', tag.find('"', at) + 1) + 1;
  }
  return names;
}

TEST(RenderReportHtml, NeedsNothingOutsideTheFile) {
  const std::string page = RenderReportHtml(HostileReport());
  for (const std::string& tag : Tags(page)) {
    EXPECT_EQ(tag.rfind("<link", 0), std::string::npos) << tag;
    for (const std::string& name : AttributeNames(tag)) {
      EXPECT_NE(name, "src") << tag;
      EXPECT_NE(name, "xlink:href") << tag;
      EXPECT_NE(name.rfind("on", 0), 0u) << "no event handlers: " << tag;
    }
  }
  for (auto at = page.find(" href=\""); at != std::string::npos; at = page.find(" href=\"", at + 1))
    EXPECT_EQ(page[at + 7], '#') << "links stay inside the page";
  for (auto at = page.find("url("); at != std::string::npos; at = page.find("url(", at + 1))
    EXPECT_EQ(page[at + 4], '#') << "only references to the page's own markers";
  EXPECT_EQ(page.find("@import"), std::string::npos);
  EXPECT_NE(page.find("Content-Security-Policy\" content=\"default-src 'none'"), std::string::npos);
  EXPECT_NE(page.find("@media print"), std::string::npos);
}

TEST(RenderReportHtml, HundredFieldsAtTheirLargestStayUnderOneMegabyte) {
  ReportInput in;
  in.input_name = std::string(10000, 'i');
  in.target = std::string(5000, 't');
  in.bins = 400;
  for (int i = 0; i < 100; ++i) in.fields.push_back(FullField(std::string(5000, 'f') + std::to_string(i), i % 2 == 1));
  in.field_count = 100;
  const std::string page = RenderReportHtml(in);
  if (const char* dump = std::getenv("REPORT_HTML_DUMP")) std::ofstream(dump) << page;
  EXPECT_LT(page.size(), 1000000u);
  EXPECT_EQ(Count(page, "<section class=\"field\""), 100u);
  // The caps show up as notes rather than silently.
  EXPECT_NE(page.find("385 more bins are not shown"), std::string::npos);
}

TEST(RenderReportHtml, OverviewRanksByDiWithTheFieldsWithoutOneLast) {
  ReportInput in;
  in.target = "T";
  for (const auto& [name, di] : std::vector<std::pair<std::string, double>>{{"low", 5}, {"T", -1}, {"high", 80}, {"mid", 40}}) {
    FieldProfile f;
    f.name = name;
    if (di >= 0) {
      Segmentation s;
      s.ran = true;
      s.di = di;
      f.segmentation = s;
    } else {
      f.is_target = true;
    }
    in.fields.push_back(f);
  }
  const std::string page = RenderReportHtml(in);
  const auto overview = page.substr(page.find("<table id=\"overview\""));
  const auto high = overview.find("data-field=\"high\""), mid = overview.find("data-field=\"mid\""),
             low = overview.find("data-field=\"low\""), target = overview.find("data-field=\"T\"");
  EXPECT_LT(high, mid);
  EXPECT_LT(mid, low);
  EXPECT_LT(low, target);
  // The sections keep the input's order.
  EXPECT_LT(page.find("id=\"field-1\" data-field=\"low\""), page.find("id=\"field-3\" data-field=\"high\""));
}

TEST(RenderReportHtml, KeyNumbersCarryTheirExactValues) {
  ReportInput in;
  FieldProfile f;
  f.name = "X";
  f.figures = {{"Mean", 0.1 + 0.2}, {"N", 1234567}};
  in.fields.push_back(f);
  const std::string page = RenderReportHtml(in);
  EXPECT_NE(page.find("data-stat=\"Mean\" data-value=\"0.30000000000000004\">0.3<"), std::string::npos);
  EXPECT_NE(page.find("data-stat=\"N\" data-value=\"1234567\">1,234,567<"), std::string::npos);
}

}  // namespace
}  // namespace qelcli

namespace qelcli {
namespace {

TEST(RenderReportHtml, ABinWithoutAMeanShowsNotApplicableAndNoBar) {
  ReportInput in;
  in.target = "T";
  FieldProfile f;
  f.name = "X";
  Segmentation seg;
  seg.ran = true;
  seg.target_mean = 5;
  seg.rows = {{"1", 3, "1", "2", 4.5, 90}, {"2", 0, "3", "3", std::nan(""), std::nan("")}, {"3", 2, "4", "9", 6, 120}};
  f.segmentation = seg;
  in.fields.push_back(f);
  const std::string page = RenderReportHtml(in);
  EXPECT_NE(page.find("<td>n/a</td><td>n/a</td>"), std::string::npos);
  const std::string markup = page.substr(0, page.find("<script>"));  // the script has its isNaN
  EXPECT_EQ(markup.find("nan"), std::string::npos);
  EXPECT_EQ(markup.find("NaN"), std::string::npos);
  // Two bars: the bar path holds one closed rectangle per bin with a mean.
  const auto bars = page.find("<path class=\"bar\" d=\"", page.find("chart segmentation"));
  const std::string path = page.substr(bars, page.find("\"/>", bars) - bars);
  EXPECT_EQ(std::count(path.begin(), path.end(), 'z'), 2);
}

}  // namespace
}  // namespace qelcli

// The qelstats report as one self-contained HTML page: inline style, inline
// SVG charts and a few lines of inline script (sorting the overview), with no
// reference to anything outside the file, so it opens from disk anywhere and
// prints to PDF.
//
//   qelcli::ReportInput input = qelcli::BuildReportInput(request);
//   std::ofstream("report.html") << qelcli::RenderReportHtml(input);
//
// Every text that comes from the data (names, values, messages) is escaped
// and cut to a bounded length, and the per-field details are capped (see
// ReportLimits), so a page of 100 fields stays under 1 MB.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "report_model.h"

namespace qelcli {

// How much of each field's detail a page shows at most.
struct ReportLimits {
  std::size_t text_chars = 120;     // names, values and notes are cut after this many characters
  std::size_t histogram_bins = 30;  // bins drawn
  std::size_t top_values = 10;      // frequent values listed
  std::size_t extremes = 5;         // outliers listed on each side
  std::size_t segment_rows = 15;    // segmentation bins drawn and listed
};

// The whole page.
std::string RenderReportHtml(const ReportInput& input, const ReportLimits& limits = {});

// `text` safe as HTML text and as a quoted attribute value: & < > " ' are
// escaped, control characters other than tab and newline become U+FFFD, and
// text longer than `max_chars` bytes is cut (at a character boundary) and ends in "…".
std::string HtmlEscape(std::string_view text, std::size_t max_chars = std::string_view::npos);

// A number as people read it: thousands grouped ("1,234,567"), six
// significant digits at most ("12.3457", "0.2391"), "n/a" when not finite.
std::string ReadableNumber(double x);

}  // namespace qelcli

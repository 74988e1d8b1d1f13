// qelstats report: a one-page HTML profile of a table, with charts, and with a
// target the fields ranked by how they segment it.
//
// Exit status 0 when the report was written and every run went to its end, 1
// when it was written but some run stopped early (the page and stderr say
// which), 2 for a usage or input error (no report is written).
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "cli_common.h"
#include "report_html.h"
#include "reading_options.h"
#include "report_input.h"

namespace qelcli {

namespace {

int ParseReportBins(const std::string& text) {
  const auto n = qeldata::ParseNumber(text);
  if (!n || *n < 1 || *n > 32767 || *n != std::trunc(*n))
    throw UsageError("option --bins needs a whole number from 1 to 32767, not '" + text + "'");
  return static_cast<int>(*n);
}

std::vector<std::string> SplitFields(const std::string& list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (name.empty()) throw UsageError("option --fields needs names separated by commas, not '" + list + "'");
    names.push_back(std::move(name));
    if (comma == std::string::npos) return names;
    start = comma + 1;
  }
}

// Writes the page beside its destination, then renames it into place, so an
// existing report is never left half written.
void WritePage(const std::string& path, const std::string& page) {
  if (path == "-") {
    std::cout << page;
    std::cout.flush();
    if (!std::cout) throw std::runtime_error("cannot write the report to standard output");
    return;
  }
  const std::string temporary = path + ".part" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) throw UsageError("cannot write " + path);
    out << page;
    out.close();
    if (!out) {
      std::filesystem::remove(temporary);
      throw UsageError("cannot write " + path + " (disk full?)");
    }
  }
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::filesystem::remove(temporary);
    throw UsageError("cannot write " + path + ": " + ec.message());
  }
}

}  // namespace

int RunReport(const std::vector<std::string>& argv) {
  // "-o FILE" is the usual spelling for an output file; it means --output.
  std::vector<std::string> words;
  for (const auto& a : argv) words.push_back(a == "-o" ? "--output" : a);
  const Args args(words, WithReadingFlags(WithCommonFlags()));
  args.AllowOnly(
      WithReadingOptions({"csv", "connection", "source", "target", "weight", "bins", "fields", "output", "no-progress"}));
  if (!args.positional().empty()) throw UsageError("unexpected argument '" + args.positional().front() + "'");
  const auto output = args.Get("output");
  if (!output || output->empty()) throw UsageError("missing -o FILE (the HTML file to write, or - for stdout)");

  if (const auto csv = args.Get("csv"); csv && *output != "-") {
    std::error_code ec;
    if (std::filesystem::equivalent(*csv, *output, ec))
      throw UsageError("the input file cannot be the output (-o " + *output + ")");
  }
  const InputSpec input = ResolveReadInput(args);

  ReportRequest request;
  request.connection_string = input.connection_string;
  request.source = input.source;
  if (const auto csv = args.Get("csv"))
    request.input_name = *csv == "-" ? "stdin" : std::filesystem::path(*csv).filename().string();
  else request.input_name = input.source;
  if (const auto target = args.Get("target")) request.target = *target;
  if (const auto weight = args.Get("weight")) request.weight = *weight;
  if (const auto bins = args.Get("bins")) request.bins = ParseReportBins(*bins);
  if (const auto fields = args.Get("fields")) request.fields = SplitFields(*fields);
  if (!args.Has("no-progress") && ::isatty(2)) {
    request.on_field = [](const std::string& field, int position, int count) {
      std::cerr << "\rqelstats report: field " << position << " of " << count << ": " << field << "\x1b[K"
                << std::flush;
    };
  }

  ReportInput report = BuildReportInput(request);
  if (request.on_field) std::cerr << "\r\x1b[K" << std::flush;
  // A column of numbers with a few cells that are not gets read as text: the
  // page and stderr say which cells, and how to read them as missing.
  std::vector<std::string> text_fields;
  for (const FieldProfile& f : report.fields)
    if (f.kind == FieldKind::kText) text_fields.push_back(f.name);
  const std::vector<std::string> reading_notes = text_fields.empty() ? std::vector<std::string>{}
                                                                     : TextFieldNotes(input, text_fields);
  for (FieldProfile& f : report.fields)
    for (const std::string& note : reading_notes)
      if (note.rfind(f.name + " is text:", 0) == 0) f.reading_note = note;
  WritePage(*output, RenderReportHtml(report));
  PrintNotes(std::cerr, reading_notes);

  // Every run that stopped early is named, so a script sees it without the page.
  int stopped = 0;
  for (const FieldProfile& f : report.fields) {
    if (!f.note.empty()) {
      std::cerr << "qelstats report: " << f.name << ": " << f.note << '\n';
      ++stopped;
    }
    if (f.segmentation && !f.segmentation->ran) {
      std::cerr << "qelstats report: " << f.name << " against " << report.target << ": " << f.segmentation->note
                << '\n';
      ++stopped;
    }
  }
  if (report.rows == 0) {
    if (const auto empty = EmptyFileNote(args, input)) {
      std::cerr << "qelstats report: " << *empty << '\n';
      ++stopped;
    }
  }
  return stopped ? kExitRunFailed : kExitRan;
}

}  // namespace qelcli

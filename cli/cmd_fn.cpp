// qelstats fn NAME ARG... [--json] | fn --list [--json]: one call of a
// QelStatFctn function. The call itself always succeeds (a failed computation
// is the result -9999999), so the exit status is 0 once the function ran.
#include <iostream>
#include <string>
#include <vector>

#include "cli_common.h"
#include "qelStatsLib/QelStatFctn.h"
#include "qeldata/value.h"

namespace qelcli {

namespace {

std::string Signature(const qel::StatFctnMember& m) {
  std::string out(m.name);
  out += '(';
  for (std::size_t i = 0; i < m.Arguments().size(); ++i) {
    if (i) out += ", ";
    out += m.Arguments()[i];
  }
  return out + ')';
}

int PrintList(bool json) {
  const auto members = qel::QelStatFctn::Members();
  if (json) {
    std::string items;
    for (const auto& m : members) {
      JsonObject o;
      o.Add("Name", std::string(m.name));
      std::vector<std::string> names(m.Arguments().begin(), m.Arguments().end());
      o.AddRaw("Arguments", JsonStrings(names));
      o.Add("DispatchId", static_cast<double>(m.dispatch_id));
      o.Add("Help", std::string(m.help_text));
      items += (items.empty() ? "" : ", ") + o.str();
    }
    JsonObject out;
    out.AddRaw("Functions", "[" + items + "]");
    std::cout << out.str() << '\n';
    return kExitRan;
  }
  std::vector<std::pair<std::string, std::string>> rows;
  for (const auto& m : members) rows.emplace_back(Signature(m), std::string(m.help_text));
  PrintProperties(std::cout, rows);
  return kExitRan;
}

}  // namespace

int RunFn(const std::vector<std::string>& argv) {
  bool json = false, list = false;
  std::string format = "table";
  std::vector<std::string> words;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a == "--json") {
      json = true;
    } else if (a == "--format" || a.rfind("--format=", 0) == 0) {
      // The output formats of every command: one number is a table of one row.
      if (a == "--format" && i + 1 >= argv.size()) throw UsageError("option --format needs a value");
      format = a == "--format" ? argv[++i] : a.substr(9);
      if (format != "table" && format != "json" && format != "csv" && format != "markdown")
        throw UsageError("option --format needs table, json, csv or markdown, not '" + format + "'");
      if (format == "json") json = true;
    } else if (a == "--no-progress") {
      // accepted as by every command; fn shows no progress
    } else if (a == "--list") {
      list = true;
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      throw UsageError("unknown option " + a);
    } else {
      words.push_back(a);  // names and numbers, negative ones included ("-1")
    }
  }
  if (list) {
    if (!words.empty()) throw UsageError("--list takes no function name or arguments");
    return PrintList(json);
  }
  if (words.empty()) throw UsageError("give a function name and its arguments (qelstats fn --list shows them)");

  const qel::StatFctnMember* m = qel::QelStatFctn::FindMember(words[0]);
  if (!m) throw UsageError("unknown function '" + words[0] + "' (qelstats fn --list shows them)");
  const std::size_t given = words.size() - 1;
  if (given != static_cast<std::size_t>(m->argument_count)) {
    throw UsageError(std::string(m->name) + " takes " + std::to_string(m->argument_count) +
                     (m->argument_count == 1 ? " argument, " : " arguments, ") + Signature(*m) + "; got " +
                     std::to_string(given));
  }
  std::vector<double> args;
  for (std::size_t i = 0; i < given; ++i) {
    const std::string& text = words[i + 1];
    const auto n = qeldata::ParseNumber(text);
    if (!n) {
      throw UsageError("argument " + std::string(m->Arguments()[i]) + " of " + std::string(m->name) +
                       " needs a finite decimal number, not '" + text + "'");
    }
    args.push_back(*n);
  }

  const qel::QelStatFctn functions;
  const double result = m->invoke(functions, args);

  if (json) {
    JsonObject out;
    out.Add("Result", result);
    std::cout << out.str() << '\n';
    return kExitRan;
  }
  if (format == "csv" || format == "markdown") {
    const std::string sep = format == "csv" ? "," : " | ";
    std::string header = "Function", values(m->name);
    for (std::size_t i = 0; i < args.size(); ++i) {
      header += sep + std::string(m->Arguments()[i]);
      values += sep + qeldata::RoundTripText(args[i]);
    }
    header += sep + "Result";
    values += sep + qeldata::RoundTripText(result);
    if (format == "csv") {
      std::cout << header << '\n' << values << '\n';
    } else {
      std::cout << "| " << header << " |\n|" ;
      for (std::size_t i = 0; i < args.size() + 2; ++i) std::cout << (i ? "---:|" : "---|");
      std::cout << "\n| " << values << " |\n";
    }
    return kExitRan;
  }
  std::vector<std::pair<std::string, std::string>> rows;
  rows.emplace_back("Function", std::string(m->name));
  for (std::size_t i = 0; i < args.size(); ++i)
    rows.emplace_back(std::string(m->Arguments()[i]), qeldata::RoundTripText(args[i]));
  rows.emplace_back("Result", qeldata::RoundTripText(result));
  PrintProperties(std::cout, rows);
  return kExitRan;
}

}  // namespace qelcli

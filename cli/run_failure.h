// Why a run returned false, said first: one line that names the field and,
// where there is one, the file, line and cell; and the closest field names
// for a misspelled one.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli_common.h"

namespace qelcli {

// The names of `candidates` closest to `name` (case ignored; at most three,
// the closest first; none when nothing is near): "Salry" gives {"Salary"}.
std::vector<std::string> ClosestNames(const std::string& name, const std::vector<std::string>& candidates);

// "did you mean Salary?" / "did you mean Salary or SB?"; empty without names.
std::string DidYouMean(const std::vector<std::string>& names);

// The fields of the input, read from a forward-only open; empty when it
// cannot be opened.
std::vector<std::string> InputFieldNames(const InputSpec& input);

// What a run that returned false tells its user, in one line. The most
// specific reason wins: a file without data rows; a field the input does not
// have (with the closest names); a field of numbers that reads as text because
// of a few cells (which cells, and the option that reads them); a text or date
// field where numbers are needed; else `run_reason` (the run's own reason),
// led by the field's name when it names none. `fields` are the fields the run
// was given, `numeric_fields` those of them that must hold numbers.
std::string FailureReason(const Args& args, const InputSpec& input, const std::vector<std::string>& fields,
                          const std::vector<std::string>& numeric_fields, const std::string& run_reason);

// The failure, first: "qelstats COMMAND: Run returned False: REASON" on
// stderr (unless `on_stderr` is false: the run's message box said it there
// already), and with `text_output` "Run returned False: REASON" on standard
// output, to come before anything else written there.
void SayFailureFirst(const std::string& command, const std::string& reason, bool text_output, bool on_stderr = true);

}  // namespace qelcli

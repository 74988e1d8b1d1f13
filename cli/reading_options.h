// How qelstats reads a text file: the reading options (--delimiter, --na,
// --decimal-comma, --thousands, --no-header), standard input as --csv -, and
// the notes that say why a column of numbers reads as text.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli_common.h"
#include "qeldata/recordset.h"

namespace qelcli {

// The reading options' switches, to pass to Args beside the command's own.
std::vector<std::string> WithReadingFlags(std::vector<std::string> flags);
// Every reading option, to pass to Args::AllowOnly beside the command's own.
std::vector<std::string> WithReadingOptions(std::vector<std::string> known);

// ResolveInput, and: --csv - copies standard input into a temporary file
// (removed when the program ends) read as the table "stdin"; the reading
// options become the text provider's keys (Delimiter, NA, DecimalSeparator,
// ThousandsSeparator, Header). Throws UsageError for a value the options
// cannot take, or for reading options with a connection that is no text one.
InputSpec ResolveReadInput(const Args& args);

// "Salary is text: 1 of 920 cells is not a number (line 18: 'NA'); --na NA
// reads it as missing".
std::string TextFieldNote(const std::string& field, const qeldata::NonNumericCells& cells);

// The notes of those of `fields` (blank names skipped) that are text because
// of a few cells, in that order. Opens the input again to look; any error on
// the way gives no note, as the note only adds to a message already given.
std::vector<std::string> TextFieldNotes(const InputSpec& input, const std::vector<std::string>& fields);
// The same, from the fields of an input already open.
std::vector<std::string> TextFieldNotes(const qeldata::Fields& all, const std::vector<std::string>& fields);

// Each note on a line of its own.
void PrintNotes(std::ostream& out, const std::vector<std::string>& notes);

}  // namespace qelcli

// Telling one SQL statement from several, before a text reaches a database.
// Internal to qeldata.
#pragma once

#include <string>
#include <string_view>

namespace qeldata::detail {

// The one statement of `sql`, without a trailing ';' and what follows it
// (blanks and comments only). Throws Error (kErrInvalidArgument) when `sql`
// holds more than one statement.
//
// Quotes ('...', E'...', "...", $tag$...$tag$) and comments (--, /* */) are
// skipped as PostgreSQL reads them. Where databases read a text differently
// (a backslash before a quote, comments inside comments), every reading is
// tried and the text is refused when any of them finds a second statement: a
// text the scanner misreads is refused, never let through.
std::string SingleStatement(std::string_view sql);

}  // namespace qeldata::detail

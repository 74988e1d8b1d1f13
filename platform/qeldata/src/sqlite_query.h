// Queries through libsqlite3, shared by the SQLite provider and by SQL over
// CSV files (which runs on an in-memory database). Internal to qeldata.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "provider.h"

namespace qeldata::detail {

// A database connection closed when the last stream reading it is gone.
using SqliteHandle = std::shared_ptr<sqlite3>;

// A prepared statement, finalised on every path out of its scope: a
// statement left behind keeps its connection open too.
struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Opens `path` read-only (never creating it), or an in-memory database when
// `path` is empty. Throws Error with SQLite's message.
SqliteHandle OpenSqlite(const std::string& path, const std::string& display_name);

// From now on `db` runs only statements that read: no writes, no ATTACH (which
// could create a file), no schema changes.
void AllowOnlyReading(sqlite3* db);

// The ADO type code for a declared column type ("INTEGER", "VARCHAR(40)",
// "DATETIME", ...) and its defined size.
int TypeFromDeclaration(const std::string& declared, int* defined_size);

// Prepares `sql` (exactly one statement that reads) and streams its rows.
// Columns with a declared type take its code; expression columns take the
// stored type of their first non-null value (text when there is none).
// Values that do not fit their column's type are errors naming `display_name`,
// the row and the field; they never become null or zero. `types`, when not
// empty, gives the type of each column that has no declared type, so that
// nothing is probed (an aggregate's columns, or fields already described).
std::unique_ptr<RowStream> OpenSqliteQuery(SqliteHandle db, const std::string& sql,
                                           const std::string& display_name, const std::vector<int>& types = {});

}  // namespace qeldata::detail

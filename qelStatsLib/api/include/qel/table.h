// A table to analyse: a CSV file in a folder, an SQLite file or any ODBC data
// source, named by a connection string and a source (a table name or SQL).
//
//   qel::Table t = qel::Table::Open("Text;DBQ=/data", "BaseBall.csv");
//   qel::Table s = qel::Table::Open("Driver=SQLite3;Database=/data/b.db", "select * from players");
//   qel::Table c = qel::Table::Csv("/data/BaseBall.csv");
//
// The connection strings are those of the library's recordsets:
// "Text;DBQ=<folder>" (or the text driver's long form) for a folder of CSV
// files, "Driver=SQLite3;Database=<file>" for SQLite, and anything else goes to
// unixODBC unchanged ("Driver={PostgreSQL Unicode};Server=127.0.0.1;...", "DSN=...").
// A table is read, never written: every analysis opens it read-only and
// forward-only and reads it once from its first record, so memory grows with
// the distinct values an analysis keeps, not with the rows.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qel/base.h"

namespace qel {

// The type of a table's field, as an analysis sees it.
enum class FieldType : int { kNumber = 1, kText = 2, kDate = 3, kOther = 4 };

struct FieldInfo {
  std::string name;
  FieldType type;
};

class QEL_API Table {
 public:
  // Opens `source` through `connection` once, to check that it can be read
  // and to learn its fields; each analysis reopens it. Throws Error kData when
  // the connection or the source cannot be opened (a missing file or table,
  // SQL the source refuses), kInvalidArgument when either is blank.
  static Table Open(std::string_view connection, std::string_view source);
  // The CSV file at `path`: the text connection over its folder with
  // `select * from [file]`. Throws as Open.
  static Table Csv(std::string_view path);

  Table(const Table&);
  Table(Table&&) noexcept;
  Table& operator=(const Table&);
  Table& operator=(Table&&) noexcept;
  ~Table();

  const std::string& connection() const;
  const std::string& source() const;
  // The fields in table order, with their types as found when the table was
  // opened.
  const std::vector<FieldInfo>& fields() const;

 private:
  Table();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qel

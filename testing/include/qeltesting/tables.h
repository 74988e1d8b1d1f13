// In-memory input tables for the tests of the runs, the classes and the
// program: a recordset with the given columns and rows, open and positioned on
// its first row.
//
//   auto rs = qel::testing::Table({{"X"}, {"W"}}, {{1.0, 2.0}, {Value(), 1.0}});
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "qeldata/recordset.h"

namespace qel::testing {

struct Column {
  std::string name;
  int type = qeldata::adDouble;
  int size = 0;  // 0: the type's own size (255 for text types)
};

// A disconnected recordset with `columns`, every one nullable, holding `rows`
// (each as many values as there are columns; a missing trailing value is
// null). It comes back on its first row (or at its end when empty).
std::shared_ptr<qeldata::Recordset> Table(const std::vector<Column>& columns,
                                          const std::vector<std::vector<qeldata::Value>>& rows);

// One double column "X" holding `xs`.
std::shared_ptr<qeldata::Recordset> Numbers(const std::vector<qeldata::Value>& xs, const std::string& name = "X");

}  // namespace qel::testing

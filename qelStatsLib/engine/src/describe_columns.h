// How Describe_Source reads a text file column by column; internal to the
// engine and its tests, which run the pass with few records per block and
// with one to several threads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "qelStatsLib/describe.h"

namespace qel::detail {

struct ColumnPassOptions {
  unsigned threads = 0;        // 0: one per processor, at most 4
  std::size_t block_rows = 0;  // 0: about a million bytes of cells per block
};

// What Describe_Source did: whether it read the source column by column,
// and which fields it then read again through a Recordset.
struct ColumnPassReport {
  bool column_pass = false;
  std::vector<std::string> reread;
};

std::vector<DescribeGroup> DescribeSource(const std::string& source, const std::string& connection_string,
                                          const DescribeRequest& request, const ColumnPassOptions& options,
                                          ColumnPassReport* report = nullptr);

}  // namespace qel::detail

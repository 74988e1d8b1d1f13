// The result-table printers: numbers for people, and a recordset printed in
// every format as the table made of it prints.
#include "table_output.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>

namespace qelcli {
namespace {

TEST(NumberForPeople, IsPrintfsFormForEveryPrecision) {
  std::mt19937_64 random(11);
  for (int i = 0; i < 100'000; ++i) {
    const double values[] = {std::bit_cast<double>(random()),
                             static_cast<double>(static_cast<std::int64_t>(random() % 2'000'000'000) - 1'000'000'000) / 1000,
                             static_cast<double>(static_cast<std::int64_t>(random() >> 12)) * (random() % 2 ? 1 : -1),
                             0.5 + static_cast<double>(random() % 1000)};
    for (const double x : values) {
      if (!std::isfinite(x)) continue;
      const int precision = 1 + static_cast<int>(random() % 17);
      char expected[512];
      if (x == std::trunc(x) && std::fabs(x) < 1e15) std::snprintf(expected, sizeof expected, "%.0f", x == 0 ? 0.0 : x);
      else std::snprintf(expected, sizeof expected, "%.*g", precision, x);
      ASSERT_EQ(NumberForPeople(x, precision), expected) << std::hexfloat << x << " precision " << precision;
    }
  }
  EXPECT_EQ(NumberForPeople(-0.0, 7), "0");
  EXPECT_EQ(NumberForPeople(std::nan(""), 7), "NaN");
}

// A result table's shape: numbers kept as texts, texts, a flag, nulls.
std::shared_ptr<qeldata::Recordset> ResultTable() {
  auto rs = std::make_shared<qeldata::Recordset>();
  auto fields = rs->GetFields();
  fields.Append("Bin", qeldata::adVarWChar, 255);
  fields.Append("Min x", qeldata::adVarWChar, 255);
  fields.Append("Weighted N", qeldata::adDouble);
  fields.Append("Outlier", qeldata::adBoolean);
  rs->Open();
  const char* mins[] = {"-12.5", "caf\xC3\xA9, \"quoted\"", "1E+20", "0.000125", "|pipe|"};
  for (int i = 0; i < 5; ++i) {
    rs->AddNew();
    fields.Item(0).SetValue(qeldata::NumberText(i + 1));
    fields.Item(1).SetValue(mins[i]);
    if (i != 2) fields.Item(2).SetValue(i * 1234.5678 - 3);
    fields.Item(3).SetValue(qeldata::Value::Boolean(i % 2 == 0));
    rs->Update();
  }
  return rs;
}

TEST(PrintIn, ARecordsetPrintsAsTheTableMadeOfIt) {
  for (Format format : {Format::kTable, Format::kCsv, Format::kMarkdown, Format::kJson}) {
    auto rs = ResultTable();
    std::ostringstream streamed, whole;
    PrintIn(streamed, format, *rs, 4);
    PrintIn(whole, format, TableOf(*rs), 4);
    EXPECT_EQ(streamed.str(), whole.str()) << static_cast<int>(format);
    EXPECT_FALSE(streamed.str().empty());
  }
  // An empty table: the header alone.
  auto empty = std::make_shared<qeldata::Recordset>();
  empty->GetFields().Append("Value", qeldata::adDouble);
  empty->Open();
  std::ostringstream streamed, whole;
  PrintIn(streamed, Format::kTable, *empty, 7);
  PrintIn(whole, Format::kTable, TableOf(*empty), 7);
  EXPECT_EQ(streamed.str(), whole.str());
  EXPECT_EQ(streamed.str(), "Value\n-----\n");
}

TEST(PrintCsvRows, EachRowLedByTheKey) {
  auto rs = ResultTable();
  std::ostringstream out;
  const Cell key("NL");
  PrintCsvRows(out, *rs, &key);
  std::istringstream lines(out.str());
  std::string first;
  std::getline(lines, first);
  EXPECT_EQ(first, "NL,1,-12.5,-3,True");
}

}  // namespace
}  // namespace qelcli

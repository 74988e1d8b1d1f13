// The compact cells of static tables: every kind of value comes back exactly
// as stored, through rewrites from one kind to another, and through the
// Recordset API that result tables are read by.
#include "cell_column.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "provider.h"
#include "qeldata/recordset.h"

namespace qeldata::detail {
namespace {

// Stores each value in a column of its own and in one shared column, and
// expects every cell to read back equal, with the same kind and canonical flag.
void ExpectRoundTrip(const std::vector<Value>& values) {
  CellColumn shared;
  for (const Value& v : values) shared.Append(v);
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE("value " + std::to_string(i) + ": '" + values[i].AsText() + "'");
    const Value back = shared.Get(i);
    EXPECT_EQ(back.kind(), values[i].kind());
    EXPECT_TRUE(back == values[i]);
    EXPECT_EQ(back.IsCanonicalNumber(), values[i].IsCanonicalNumber());
  }
}

TEST(CellColumn, EveryKindReadsBackAsStored) {
  ExpectRoundTrip({Value(), Value(0.0), Value(-0.0), Value(2.5), Value::CanonicalNumber(0.1), Value(1e308),
                   Value(std::numeric_limits<double>::denorm_min()), Value(-std::numeric_limits<double>::infinity()),
                   Value::Boolean(true), Value::Boolean(false), Value(std::string()), Value("a"), Value("12345678"),
                   Value("123456789"), Value(std::string("a\0b", 3)), Value("caf\xC3\xA9 \xE2\x82\xAC"),
                   Value(Date{2024, 2, 29}), Value(Date{2024, 2, 29, 23, 59, 59}), Value(Date{}),
                   Value(Date{-4712, 1, 1}), Value(Date{2'000'000'000, 12, 31, 1, 2, 3})});
}

TEST(CellColumn, NegativeZeroKeepsItsSignAndNaNItsBits) {
  CellColumn column;
  column.Append(Value(-0.0));
  column.Append(Value(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_TRUE(std::signbit(column.Get(0).number()));
  EXPECT_TRUE(std::isnan(column.Get(1).number()));
}

TEST(CellColumn, DatesWhoseFieldsDoNotPackKeepThemOutOfLine) {
  // Date::Parse never makes these, but a Date is plain ints and a caller may.
  const std::vector<Value> odd{Value(Date{2024, 16, 1}), Value(Date{2024, 1, 32}), Value(Date{2024, 1, 1, 24, 64, 0}),
                               Value(Date{2024, -1, 1}), Value(Date{1, 1, 1, 0, 0, -5})};
  ExpectRoundTrip(odd);
  CellColumn column;
  column.Append(odd[0]);
  EXPECT_GT(column.ArenaBytes(), 0u);
}

TEST(CellColumn, LongTextsOfEverySizeAcrossBlocks) {
  // Around the 8 bytes held in the cell, the 64 KiB arena block and the
  // length a block place can say; many texts so that blocks fill and chain.
  std::vector<Value> values;
  for (std::size_t n : {8u, 9u, 100u, 65'534u, 65'535u, 65'536u, 200'000u})
    values.emplace_back(std::string(n, static_cast<char>('a' + n % 26)));
  for (int i = 0; i < 5000; ++i) values.emplace_back("text number " + std::to_string(i) + std::string(i % 40, 'x'));
  ExpectRoundTrip(values);
}

TEST(CellColumn, RewritesChangeKindAndLength) {
  CellColumn column;
  column.Append(Value("a first text longer than eight bytes"));
  column.Append(Value("neighbour text that must not be touched"));
  const std::vector<Value> sequence{Value("shorter text, same place"), Value(7.0), Value("a text much longer than the first one was"),
                                    Value(Date{2001, 9, 9, 1, 46, 40}), Value(Date{2001, 99, 9}), Value("tiny"),
                                    Value(), Value::Boolean(true), Value("a long text once more, after all that"),
                                    Value(std::string())};
  for (const Value& v : sequence) {
    column.Store(0, v);
    EXPECT_TRUE(column.Get(0) == v) << v.AsText();
    EXPECT_EQ(column.Get(1).text(), "neighbour text that must not be touched");
  }
}

TEST(CellColumn, RewritingALongTextInPlaceDoesNotGrowTheArena) {
  CellColumn column;
  column.Append(Value(std::string(1000, 'x')));
  const std::size_t before = column.ArenaBytes();
  // A cell rewritten over and over with texts no longer than the one it
  // holds (a table whose rows are updated in a loop) stays in its place.
  for (int i = 0; i < 100'000; ++i) column.Store(0, Value(std::string(1000 - i / 200, static_cast<char>('a' + i % 26))));
  EXPECT_EQ(column.ArenaBytes(), before);
  EXPECT_EQ(column.Get(0).text(), std::string(501, static_cast<char>('a' + 99'999 % 26)));
}

TEST(CellColumn, LoadReusesTheValueItIsGiven) {
  CellColumn column;
  column.Append(Value("a text of more than eight bytes"));
  column.Append(Value(3.0));
  column.Append(Value("short"));
  Value v;
  column.Load(0, v);
  EXPECT_EQ(v.text(), "a text of more than eight bytes");
  column.Load(1, v);
  EXPECT_EQ(v.number(), 3.0);
  column.Load(2, v);
  EXPECT_EQ(v.text(), "short");
}

// ---- Through the recordset ----

TEST(StaticTableCells, FieldsKeepTheirValuesRowByRowAndClonesShareThem) {
  Recordset rs;
  rs.GetFields().Append("Any", adEmpty);  // a field of no type keeps every kind
  rs.GetFields().Append("Text", adVarWChar, 255);
  rs.GetFields().Append("Number", adDouble);
  rs.Open();
  const std::vector<Value> any{Value(), Value(1.5), Value("x"), Value(Date{1999, 12, 31}), Value::Boolean(false),
                               Value(std::string(70'000, 'z'))};
  rs.Reserve(static_cast<std::int64_t>(any.size()));
  for (std::size_t i = 0; i < any.size(); ++i) {
    rs.AddNew();
    rs.GetFields().Item(0).SetValue(any[i]);
    rs.GetFields().Item(1).SetValue(Value(static_cast<double>(i) / 4));  // stored as its text
    rs.GetFields().Item(2).SetValue(Value("1e3"));                         // stored as a number
    rs.Update();
  }
  auto clone = rs.Clone();
  ASSERT_EQ(clone->RecordCount(), static_cast<std::int64_t>(any.size()));
  std::size_t i = 0;
  for (clone->MoveFirst(); !clone->IsEOF(); clone->MoveNext(), ++i) {
    EXPECT_TRUE(clone->GetFields().Item("any").GetValue() == any[i]);
    EXPECT_EQ(clone->GetFields().Item(1).GetValue().text(), NumberText(static_cast<double>(i) / 4));
    EXPECT_EQ(clone->GetFields().Item(2).GetValue().number(), 1000.0);
  }

  // A write through the original is seen by the clone on the same row, and
  // each keeps its own cursor.
  rs.MoveFirst();
  rs.GetFields().Item(0).SetValue(Value("now a long text, where a null was"));
  clone->MoveFirst();
  clone->MoveNext();
  rs.MoveLast();
  EXPECT_EQ(clone->GetFields().Item(0).GetValue().number(), 1.5);
  clone->MovePrevious();
  EXPECT_EQ(clone->GetFields().Item(0).GetValue().text(), "now a long text, where a null was");
  EXPECT_EQ(rs.GetFields().Item(0).GetValue().text().size(), 70'000u);
  // Rows added after cloning reach the clone too.
  rs.AddNew();
  rs.GetFields().Item(1).SetValue(Value(""));
  clone->MoveLast();
  EXPECT_TRUE(clone->GetFields().Item(0).GetValue().IsNull());
  EXPECT_EQ(clone->GetFields().Item(1).GetValue().kind(), Value::Kind::kText);
  EXPECT_EQ(clone->GetFields().Item(1).GetValue().text(), "");
}

TEST(StaticTableCells, AStaticOpenOfAFileHoldsItsRowsCompactly) {
  const std::string dir = ::testing::TempDir() + "/cell_column_static";
  std::filesystem::create_directories(dir);
  {
    std::ofstream f(dir + "/t.csv");
    f << "name,x,when\n";
    for (int i = 0; i < 10'000; ++i) f << "name number " << i << "," << i * 0.5 << ",2020-01-" << (1 + i % 28) << "\n";
  }
  Recordset rs;
  rs.SetCursorLocation(adUseClient);
  rs.Open("[t.csv]", "Text;DBQ=" + dir, adOpenStatic, adLockReadOnly);
  ASSERT_EQ(rs.RecordCount(), 10'000);
  rs.MoveLast();
  EXPECT_EQ(rs.Collect("name").text(), "name number 9999");
  EXPECT_EQ(rs.Collect("x").number(), 4999.5);
  rs.MoveFirst();
  EXPECT_EQ(rs.Collect("name").text(), "name number 0");
  EXPECT_EQ(rs.state()->table->columns.size(), 3u);
  EXPECT_TRUE(rs.state()->table->cells.empty());
}

}  // namespace
}  // namespace qeldata::detail

// In-memory recordsets, cursors, clones and connection strings.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "provider.h"
#include "qeldata/recordset.h"

namespace qeldata {
namespace {

int ErrorNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

// The shape of the library's result tables: a value, counts and a flag.
void BuildResultTable(Recordset& rs) {
  rs.GetFields().Append("Value", adVarWChar, 255, adFldIsNullable);
  rs.GetFields().Append("N", adVarNumeric, 255, adFldIsNullable);
  rs.GetFields().Append("Outlier", adBoolean, 0, adFldUnspecified);
  rs.SetCursorLocation(adUseServer);
  rs.Open();
}

TEST(InMemoryRecordset, AppendAddNewAndWriteByPositionOrName) {
  Recordset rs;
  BuildResultTable(rs);
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_TRUE(rs.IsBOF());
  EXPECT_EQ(rs.RecordCount(), 0);
  EXPECT_EQ(rs.ActiveConnection(), nullptr);

  rs.AddNew();
  rs.GetFields().Item(0).SetValue(Value(2.5));       // a number into a text field
  rs.GetFields().Item(1).SetValue(Value("12.5"));    // a numeric text into a number field
  rs.SetCollect("outlier", Value::Boolean(true));    // by name, any case
  rs.Update();
  rs.AddNew();
  rs.SetCollect("Value", Value("b"));
  rs.SetCollect("N", Value(3));
  rs.Update();

  EXPECT_EQ(rs.RecordCount(), 2);
  rs.MoveFirst();
  EXPECT_EQ(rs.Collect("Value").text(), "2.5");
  EXPECT_EQ(rs.Collect("N").number(), 12.5);
  EXPECT_TRUE(rs.Collect("Outlier").boolean());
  rs.MoveNext();
  EXPECT_TRUE(rs.Collect("Outlier").IsNull());  // never written
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
}

TEST(InMemoryRecordset, WritesThatCannotConvertAreRefused) {
  Recordset rs;
  BuildResultTable(rs);
  rs.AddNew();
  EXPECT_EQ(ErrorNumber([&] { rs.SetCollect("N", Value("many")); }), kErrDataConversion);
  EXPECT_TRUE(rs.Collect("N").IsNull());  // the failed write left nothing behind
  EXPECT_EQ(ErrorNumber([&] { rs.SetCollect("Outlier", Value("maybe")); }), kErrDataConversion);
  EXPECT_EQ(ErrorNumber([&] { rs.SetCollect("Missing", Value(1)); }), kErrItemNotFound);
  EXPECT_EQ(ErrorNumber([&] { rs.GetFields().Append("Late", adVarWChar); }), kErrObjectOpen);
}

TEST(InMemoryRecordset, DuplicateFieldNamesAreRefused) {
  Recordset rs;
  rs.GetFields().Append("Bin", adVarNumeric);
  EXPECT_EQ(ErrorNumber([&] { rs.GetFields().Append("BIN", adVarNumeric); }), kErrInvalidArgument);
}

TEST(InMemoryRecordset, NamesWithBlanksAroundThemAreFoundWithout) {
  // As a header "id, price, a, a " names its fields.
  Recordset rs;
  for (const char* name : {"id", " price", "a", " a "}) rs.GetFields().Append(name, adDouble);
  const Fields fields = rs.GetFields();
  EXPECT_EQ(fields.Find("price"), 1);
  EXPECT_EQ(fields.Find(" PRICE"), 1);
  EXPECT_EQ(fields.Find("price  "), 1);
  EXPECT_EQ(fields.Find("a"), 2);     // the name as written comes first
  EXPECT_EQ(fields.Find(" a "), 3);
  EXPECT_EQ(fields.Find(" a"), -1);   // equal to two once trimmed: neither is guessed
  EXPECT_EQ(fields.Find("pri ce"), -1);
  EXPECT_EQ(fields.Item("price").Name(), " price");
  EXPECT_EQ(ErrorNumber([&] { rs.GetFields().Append("PRICE", adDouble); }), 0);  // only case makes a name the same
  EXPECT_EQ(ErrorNumber([&] { rs.GetFields().Append("ID", adDouble); }), kErrInvalidArgument);
}

TEST(InMemoryRecordset, CursorEdges) {
  Recordset rs;
  BuildResultTable(rs);
  for (int i = 0; i < 3; ++i) {
    rs.AddNew();
    rs.SetCollect("N", Value(i));
  }
  rs.MoveLast();
  EXPECT_EQ(rs.Collect("N").number(), 2);
  rs.MovePrevious();
  rs.MovePrevious();
  rs.MovePrevious();
  EXPECT_TRUE(rs.IsBOF());
  EXPECT_FALSE(rs.IsEOF());
  EXPECT_EQ(ErrorNumber([&] { rs.Collect("N"); }), kErrNoCurrentRecord);
  EXPECT_EQ(ErrorNumber([&] { rs.MovePrevious(); }), kErrNoCurrentRecord);
  rs.MoveNext();
  EXPECT_EQ(rs.Collect("N").number(), 0);
  rs.MoveLast();
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_EQ(ErrorNumber([&] { rs.MoveNext(); }), kErrNoCurrentRecord);
  rs.Close();
  EXPECT_EQ(ErrorNumber([&] { rs.IsEOF(); }), kErrObjectClosed);
}

TEST(InMemoryRecordset, CloneSharesRowsWithItsOwnCursor) {
  Recordset rs;
  BuildResultTable(rs);
  rs.AddNew();
  rs.SetCollect("N", Value(1));
  auto clone = rs.Clone(adLockUnspecified);
  EXPECT_EQ(clone->RecordCount(), 1);
  // Rows added to either later are seen by both.
  rs.AddNew();
  rs.SetCollect("N", Value(2));
  clone->AddNew();
  clone->SetCollect("N", Value(3));
  EXPECT_EQ(rs.RecordCount(), 3);
  EXPECT_EQ(clone->RecordCount(), 3);
  // A write through one shows in the other; cursors move independently.
  clone->MoveFirst();
  clone->SetCollect("N", Value(10));
  rs.MoveFirst();
  EXPECT_EQ(rs.Collect("N").number(), 10);
  clone->MoveLast();
  EXPECT_EQ(clone->Collect("N").number(), 3);
  EXPECT_EQ(rs.Collect("N").number(), 10);
  // The clone outlives the recordset it came from.
  rs.Close();
  clone->MoveFirst();
  EXPECT_EQ(clone->Collect("N").number(), 10);
  // A read-only clone cannot add rows.
  auto read_only = clone->Clone(adLockReadOnly);
  EXPECT_EQ(ErrorNumber([&] { read_only->AddNew(); }), kErrNotSupported);
}

TEST(ConnectionString, BracesFlagsAndLastValueWins) {
  const auto cs = detail::ConnectionString::Parse(
      "Driver={Microsoft Text Driver (*.txt; *.csv)};DBQ=/a;dbq = /b ;Pwd={x;y=z};Text");
  EXPECT_EQ(cs.Get("driver").value(), "Microsoft Text Driver (*.txt; *.csv)");
  EXPECT_EQ(cs.Get("DBQ").value(), "/b");
  EXPECT_EQ(cs.Get("Pwd").value(), "x;y=z");
  EXPECT_TRUE(cs.HasFlag("text"));
  EXPECT_FALSE(cs.Get("Uid").has_value());
  EXPECT_EQ(ErrorNumber([] { detail::ConnectionString::Parse("Driver={open"); }), kErrInvalidArgument);
}

TEST(ConnectionString, BracedValueKeepsEveryCharacter) {
  // "}}" is one "}"; ";", "=" and blanks inside braces are the value's own.
  const auto cs = detail::ConnectionString::Parse("Text;DBQ={ /a}}b;DBQ=/etc }  ;Uid=u");
  EXPECT_EQ(cs.Get("DBQ").value(), " /a}b;DBQ=/etc ");
  EXPECT_EQ(cs.Get("Uid").value(), "u");
  EXPECT_EQ(ErrorNumber([] { detail::ConnectionString::Parse("DBQ={/a}/b"); }), kErrInvalidArgument);
  EXPECT_EQ(ErrorNumber([] { detail::ConnectionString::Parse("DBQ={/a}}"); }), kErrInvalidArgument);
}

}  // namespace
}  // namespace qeldata

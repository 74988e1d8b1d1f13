// Hostile comma-separated files through the text provider: each one either
// opens and reads back exactly what it holds, or fails with an error that names
// the file and, where there is one, the line and the field. No cell ever turns
// into null or zero on the way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "qeldata/recordset.h"

namespace qeldata {
namespace {

namespace fs = std::filesystem;
// EXPECT_THAT(text, HasSubstr(part)) without linking gmock.
::testing::AssertionResult HasSubstr(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "'" << text << "' does not contain '" << part << "'";
}

class HostileCsv : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path(::testing::TempDir()) /
              ("hostile_csv_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Write(const std::string& bytes, const std::string& name = "h.csv") {
    std::ofstream(folder_ / name, std::ios::binary) << bytes;
  }

  // Opens h.csv streaming and reads every row as text; "(null)" for nulls.
  std::vector<std::vector<std::string>> ReadRows(std::vector<FieldInfo>* fields = nullptr) {
    Recordset rs;
    rs.SetCursorLocation(adUseServer);
    rs.Open("h.csv", "Text;DBQ=" + folder_.string(), adOpenForwardOnly, adLockReadOnly, -1);
    if (fields) {
      fields->clear();
      for (int i = 0; i < rs.GetFields().Count(); ++i) {
        const Field f = rs.GetFields().Item(i);
        fields->push_back({f.Name(), f.Type()});
      }
    }
    std::vector<std::vector<std::string>> rows;
    for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
      rows.emplace_back();
      for (int i = 0; i < rs.GetFields().Count(); ++i) {
        const Value& v = rs.GetFields().Item(i).GetValue();
        rows.back().push_back(v.IsNull() ? "(null)" : v.AsText());
      }
    }
    return rows;
  }

  // The error of opening and reading h.csv to its end, or "(no error)".
  std::string ReadError() {
    try {
      ReadRows();
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }

  fs::path folder_;
};

using Rows = std::vector<std::vector<std::string>>;

TEST_F(HostileCsv, EmptyFileAndHeaderOnly) {
  Write("");
  const std::string empty = ReadError();
  EXPECT_TRUE(HasSubstr(empty, "h.csv"));
  Write("a,b\r\n");
  std::vector<FieldInfo> fields;
  EXPECT_TRUE(ReadRows(&fields).empty());
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[1].name, "b");
}

TEST_F(HostileCsv, FieldNamesWithBlanksAndNonAsciiLettersAreKept) {
  Write("Home Runs,Gr\xc3\xb6\xc3\x9f" "e,\"Caf\xc3\xa9, Bar\"\n1,2,3\n");
  std::vector<FieldInfo> fields;
  EXPECT_EQ(ReadRows(&fields), (Rows{{"1", "2", "3"}}));
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0].name, "Home Runs");
  EXPECT_EQ(fields[1].name, "Gr\xc3\xb6\xc3\x9f" "e");
  EXPECT_EQ(fields[2].name, "Caf\xc3\xa9, Bar");
}

TEST_F(HostileCsv, DuplicateFieldNamesAreRefusedByName) {
  // Two fields of one name would make every lookup by name ambiguous: an
  // analysis could read the wrong column without a word.
  Write("a,b,A\n1,2,3\n");
  const std::string e = ReadError();
  EXPECT_TRUE(HasSubstr(e, "h.csv"));
  EXPECT_TRUE(HasSubstr(e, "'A'"));
}

TEST_F(HostileCsv, RaggedRowsAndOpenQuotesNameTheLine) {
  Write("a,b\n1,2\n3\n");
  EXPECT_TRUE(HasSubstr(ReadError(), "h.csv line 3"));
  Write("a,b\n1,2\n3,4,5\n");
  EXPECT_TRUE(HasSubstr(ReadError(), "h.csv line 3"));
  // A quoted field running to the end of the file names the line it opened on.
  Write("a,b\n1,2\n3,\"four\n5,6\n7,8\n");
  const std::string e = ReadError();
  EXPECT_TRUE(HasSubstr(e, "h.csv line 3"));
  EXPECT_TRUE(HasSubstr(e, "quote"));
}

TEST_F(HostileCsv, InvalidUtf8AndNulBytesAreErrorsNotCharacters) {
  Write("a,b\n1,x\xff" "y\n");
  EXPECT_TRUE(HasSubstr(ReadError(), "h.csv line 2"));
  Write("a,b\n1,\xc3\n");  // a sequence cut short by the line end
  EXPECT_TRUE(HasSubstr(ReadError(), "h.csv line 2"));
  Write(std::string("a,b\n1,x\0y\n", 11));
  EXPECT_TRUE(HasSubstr(ReadError(), "h.csv line 2"));
  Write(std::string("a\0,b\n1,2\n", 9));
  EXPECT_TRUE(HasSubstr(ReadError(), "h.csv line 1"));
}

TEST_F(HostileCsv, WordsThatLookLikeNumbersKeepTheColumnText) {
  // No NaN, infinity or out-of-range number becomes a number, null or zero:
  // the column reads as text and each cell as written.
  Write("v\n1\nNaN\ninf\n1e400\n-1e400\n");
  std::vector<FieldInfo> fields;
  EXPECT_EQ(ReadRows(&fields), (Rows{{"1"}, {"NaN"}, {"inf"}, {"1e400"}, {"-1e400"}}));
  EXPECT_EQ(fields[0].type, adVarWChar);
  // A number of the double range underflowing to zero is still that number.
  Write("v\n1e-400\n2\n");
  const Rows tiny = ReadRows(&fields);
  EXPECT_EQ(fields[0].type, adDouble);
  EXPECT_EQ(tiny, (Rows{{"0"}, {"2"}}));
}

TEST_F(HostileCsv, NegativeZeroDecimalCommasAndLongDigits) {
  Write("v,w\n-0,\"1,5\"\n0,\"2,25\"\n");
  std::vector<FieldInfo> fields;
  EXPECT_EQ(ReadRows(&fields), (Rows{{"0", "1,5"}, {"0", "2,25"}}));
  EXPECT_EQ(fields[0].type, adInteger);
  EXPECT_EQ(fields[1].type, adVarWChar);  // a decimal comma is no decimal point
  // An unquoted decimal comma splits the cell: a ragged row, not a number.
  Write("v\n1,5\n");
  EXPECT_TRUE(HasSubstr(ReadError(), "h.csv line 2"));
  // Beyond 15 significant digits a value keeps its double; its text form has 15.
  Write("v\n0.12345678901234567890\n12345678901234567890\n");
  Recordset rs;
  rs.Open("h.csv", "Text;DBQ=" + folder_.string(), adOpenForwardOnly, adLockReadOnly, -1);
  EXPECT_EQ(rs.GetFields().Item(0).Type(), adDouble);
  EXPECT_EQ(rs.GetFields().Item(0).GetValue().number(), 0.12345678901234567890);
  EXPECT_EQ(rs.GetFields().Item(0).GetValue().AsText(), "0.123456789012346");
  rs.MoveNext();
  EXPECT_EQ(rs.GetFields().Item(0).GetValue().number(), 12345678901234567890.0);
}

TEST(HostileNumbers, TextFormAtTheEdgesOfTheDoubleRange) {
  // Tallies key values on the double their text form reads back as. At the top
  // of the range that text lies beyond the largest double: an infinity, which
  // the analyses refuse, never the 0 that a failed conversion leaves behind.
  const double top = std::numeric_limits<double>::max();
  EXPECT_EQ(NumberText(top), "1.79769313486232E+308");
  EXPECT_EQ(Canonical15(top), std::numeric_limits<double>::infinity());
  EXPECT_EQ(Canonical15(-top), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(Canonical15(1.79769313486231e308), 1.79769313486231e308);
  EXPECT_FALSE(ParseNumber("1.79769313486232E+308"));
  // Below the smallest normal double the text reads back as the subnormal.
  const double tiny = std::numeric_limits<double>::denorm_min();
  EXPECT_EQ(Canonical15(tiny), tiny);
  EXPECT_EQ(Canonical15(-1e-310), -1e-310);
  EXPECT_EQ(ParseNumber(NumberText(1e-310)), Canonical15(1e-310));
  EXPECT_EQ(ParseNumber("-1e-400"), 0.0);
  EXPECT_FALSE(ParseNumber("1e400"));
}

TEST_F(HostileCsv, MixedLineEnds) {
  Write("a,b\r\n1,2\n3,4\r5,6\r\n\"7\r\n8\",9\n");
  EXPECT_EQ(ReadRows(), (Rows{{"1", "2"}, {"3", "4"}, {"5", "6"}, {"7\r\n8", "9"}}));
}

TEST_F(HostileCsv, AHundredMegabyteFieldReadsWhole) {
  std::string big = "t\n\"";
  big.append(100u << 20, 'x');
  big.append("\"\n");
  Write(big);
  big.clear();
  big.shrink_to_fit();
  const auto start = std::chrono::steady_clock::now();
  Recordset rs;
  rs.Open("h.csv", "Text;DBQ=" + folder_.string(), adOpenForwardOnly, adLockReadOnly, -1);
  const Value& v = rs.GetFields().Item(0).GetValue();
  ASSERT_EQ(v.kind(), Value::Kind::kText);
  EXPECT_EQ(v.text().size(), 100u << 20);
  EXPECT_EQ(v.text().find_first_not_of('x'), std::string::npos);
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

}  // namespace
}  // namespace qeldata

// The text provider's reading keys: delimiter, null tokens, how numbers are
// written, files without a header line; and why a column reads as text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "csv.h"
#include "qeldata/recordset.h"

namespace qeldata {
namespace {

namespace fs = std::filesystem;

class CsvOptionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::path(::testing::TempDir()) /
              ("csv_options_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Write(const std::string& bytes) { std::ofstream(folder_ / "t.csv", std::ios::binary) << bytes; }

  // Every row of t.csv read with `keys` added to the connection string, each
  // cell as its text ("null" for a null), after the field names and types.
  std::vector<std::string> Read(const std::string& keys = "") {
    Recordset rs;
    rs.SetCursorLocation(adUseServer);
    rs.Open("t.csv", "Text;DBQ=" + folder_.string() + ";" + keys, adOpenForwardOnly, adLockReadOnly, -1);
    std::vector<std::string> out;
    Fields fields = rs.GetFields();
    for (int i = 0; i < fields.Count(); ++i)
      out.push_back(fields.Item(i).Name() + ":" + std::to_string(fields.Item(i).Type()));
    for (; !rs.IsEOF(); rs.MoveNext())
      for (int i = 0; i < fields.Count(); ++i) {
        const Value& v = fields.Item(i).GetValue();
        out.push_back(v.IsNull() ? "null" : v.AsText());
      }
    return out;
  }

  std::string ReadError(const std::string& keys = "") {
    try {
      Read(keys);
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }

  std::optional<NonNumericCells> NonNumeric(const std::string& field, const std::string& keys = "") {
    Recordset rs;
    rs.Open("t.csv", "Text;DBQ=" + folder_.string() + ";" + keys, adOpenForwardOnly, adLockReadOnly, -1);
    return rs.GetFields().Item(field).NonNumeric();
  }

  fs::path folder_;
};

using Cells = std::vector<std::string>;

TEST(DetectDelimiter, MostFrequentOutsideQuotesTiesToComma) {
  using detail::DetectDelimiter;
  EXPECT_EQ(DetectDelimiter("a;b;c\n1,5;2;3\n"), ';');
  EXPECT_EQ(DetectDelimiter("a\tb\tc"), '\t');
  EXPECT_EQ(DetectDelimiter("a|b|\"c,d,e\"\r\n"), '|');  // commas inside quotes do not count
  EXPECT_EQ(DetectDelimiter("a;b,c\n"), ',');            // a tie
  EXPECT_EQ(DetectDelimiter("single\n1;2;3;4\n"), ',');  // only the first line counts
  EXPECT_EQ(DetectDelimiter(""), ',');
}

TEST_F(CsvOptionsTest, DelimitersDetectedFromTheHeaderLine) {
  // Records longer than sixteen bytes take the vectorised path of the scan.
  Write("name;price;note\nalpha beta gamma;1234,5;\"x;y\"\"z\"\n\"b\";7;plain text here\n");
  EXPECT_EQ(Read(), (Cells{"name:202", "price:202", "note:202", "alpha beta gamma", "1234,5", "x;y\"z", "b", "7",
                           "plain text here"}));
  Write("a\tb\n\"quoted\"\t2.5\nlonger text cell here\t-3\n");
  EXPECT_EQ(Read(), (Cells{"a:202", "b:5", "quoted", "2.5", "longer text cell here", "-3"}));
  Write("a|b\n1|2\n");
  EXPECT_EQ(Read(), (Cells{"a:3", "b:3", "1", "2"}));
}

TEST_F(CsvOptionsTest, ExplicitDelimiterWins) {
  Write("a;b,c\n1;2,5\n");
  EXPECT_EQ(Read(), (Cells{"a;b:202", "c:3", "1;2", "5"}));
  EXPECT_EQ(Read("Delimiter={;}"), (Cells{"a:3", "b,c:202", "1", "2,5"}));
  EXPECT_EQ(Read("Delimiter=semicolon"), Read("Delimiter={;}"));
  Write("a b\tc\n1 2\t3\n");
  EXPECT_EQ(Read("Delimiter=\\t"), (Cells{"a b:202", "c:3", "1 2", "3"}));
  EXPECT_EQ(Read("Delimiter=TAB"), Read("Delimiter=\\t"));
  EXPECT_EQ(Read("Delimiter=space"), (Cells{"a:3", "b\tc:202", "1", "2\t3"}));
}

TEST_F(CsvOptionsTest, NaTokensReadAsNullInEveryColumn) {
  Write("x,label\n1,NA\n N/A ,b\n.,\"NA\"\n2.5,na\n");
  EXPECT_EQ(Read("NA=NA, N/A ,."),
            (Cells{"x:5", "label:202", "1", "null", "null", "b", "null", "null", "2.5", "na"}));
  // Without the tokens nothing is null but the empty cell, and x is text.
  EXPECT_EQ(Read(), (Cells{"x:202", "label:202", "1", "NA", " N/A ", "b", ".", "NA", "2.5", "na"}));
}

TEST_F(CsvOptionsTest, TextColumnSaysWhichCellsAreNoNumbers) {
  Write("Salary,Player\n100,Ann\n\n200,Bob\nNA,Cy\n300,Di\n-,Ed\n");
  const auto salary = NonNumeric("Salary");
  ASSERT_TRUE(salary.has_value());
  EXPECT_EQ(salary->count, 2);
  EXPECT_EQ(salary->values, 5);
  EXPECT_EQ(salary->first_line, 5);  // the blank line counts as a line
  EXPECT_EQ(salary->first_text, "NA");
  // A column without numbers is plain text; a column read as numbers has no note.
  EXPECT_FALSE(NonNumeric("Player").has_value());
  EXPECT_FALSE(NonNumeric("Salary", "NA=NA,-").has_value());
}

TEST_F(CsvOptionsTest, MostlyTextColumnsHaveNoNote) {
  std::string text = "code\n1\n";
  for (int i = 0; i < 150; ++i) text += "A" + std::to_string(i) + "\n";
  Write(text);
  EXPECT_FALSE(NonNumeric("code").has_value());
}

TEST_F(CsvOptionsTest, DecimalCommaAndThousandsSeparator) {
  Write("id;amount\n1;1.234,5\n2;\"-1.000.000\"\n3;0,25\n4;12\n5;\n");
  EXPECT_EQ(Read("DecimalSeparator=,;ThousandsSeparator=."),
            (Cells{"id:3", "amount:5", "1", "1234.5", "2", "-1000000", "3", "0.25", "4", "12", "5", "null"}));
  // The same numbers as when written plainly, bit for bit.
  Write("amount\n\"1,234.5\"\n0.25\n");
  EXPECT_EQ(Read("ThousandsSeparator=,"), (Cells{"amount:5", "1234.5", "0.25"}));
  Write("amount\n1 234 567\n");
  EXPECT_EQ(Read("ThousandsSeparator={ }"), (Cells{"amount:3", "1234567"}));
}

TEST_F(CsvOptionsTest, NumberInAnotherFormatIsAnErrorNamingFileLineAndField) {
  Write("id;amount\n1;1.234,5\n2;7\n3;1.5\n");
  EXPECT_EQ(ReadError("DecimalSeparator=,;ThousandsSeparator=."),
            "t.csv line 4: field 2 (amount): the text '1.5' is not a number written with decimal separator ',', "
            "thousands separator '.'");
  Write("n\n1,000\n12,34\n");
  EXPECT_EQ(ReadError("Delimiter=semicolon;ThousandsSeparator=,"),
            "t.csv line 3: field 1 (n): the text '12,34' is not a number written with decimal separator '.', "
            "thousands separator ','");
  // A column of text already is left alone: codes are no numbers.
  Write("code\nA-1\n1.2.3\n");
  EXPECT_EQ(Read("DecimalSeparator=,"), (Cells{"code:202", "A-1", "1.2.3"}));
}

TEST_F(CsvOptionsTest, NoHeaderLine) {
  Write("1,x,2024-01-02\n2,y,2024-01-03\n");
  EXPECT_EQ(Read("Header=No"),
            (Cells{"F1:3", "F2:202", "F3:7", "1", "x", "2024-01-02", "2", "y", "2024-01-03"}));
  Write("1,x\n2\n");
  EXPECT_EQ(ReadError("Header=no"), "t.csv line 2: 1 field, the first line has 2");
  Write("");
  EXPECT_EQ(ReadError("Header=No"), "t.csv is empty: there is no record to read");
}

TEST_F(CsvOptionsTest, UnusableKeysAreErrors) {
  Write("a\n1\n");
  EXPECT_NE(ReadError("Delimiter=ab").find("Delimiter=ab is not one character"), std::string::npos);
  EXPECT_NE(ReadError("Delimiter={\"}").find("is not one character"), std::string::npos);
  EXPECT_NE(ReadError("Header=maybe").find("Header=maybe is not Yes or No"), std::string::npos);
  EXPECT_NE(ReadError("DecimalSeparator=;").find("DecimalSeparator"), std::string::npos);
  EXPECT_EQ(ReadError("DecimalSeparator=,;ThousandsSeparator=,"),
            "the thousands separator and the decimal separator are both ','");
}

TEST_F(CsvOptionsTest, QueriesReadWithTheSameKeys) {
  Write("a;b;c\n1;NA;NA\n2;3,5;x\n");
  Recordset rs;
  rs.Open("select sum(a) as s, count(b) as n, sum(b) as t, count(c) as m from [t.csv]",
          "Text;DBQ=" + folder_.string() + ";NA=NA;DecimalSeparator=,", adOpenForwardOnly, adLockReadOnly, -1);
  EXPECT_EQ(rs.GetFields().Item("s").GetValue().AsText(), "3");
  EXPECT_EQ(rs.GetFields().Item("n").GetValue().AsText(), "1");
  EXPECT_EQ(rs.GetFields().Item("t").GetValue().AsText(), "3.5");
  EXPECT_EQ(rs.GetFields().Item("m").GetValue().AsText(), "1");  // the text column's NA too
}

// A file large enough to be scanned in two halves at once: the note's line is
// the file's line, whichever half met the cell.
TEST(CsvLayoutNote, LineOfTheFirstOddCellInTheSecondHalf) {
  std::string text = "v,w\n";
  const int rows = 2'000'000;
  for (int i = 0; i < rows; ++i) text += std::to_string(i % 1000) + ",12345678\n";
  const std::size_t at = text.size() * 3 / 4;
  const std::size_t line_start = text.rfind('\n', at) + 1;
  const auto line = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(line_start), '\n');
  text.replace(line_start, text.find(',', line_start) - line_start, "n/a");
  ASSERT_GT(text.size(), std::size_t{16} << 20);
  const detail::CsvLayout layout = detail::InferCsvLayout(text, "big.csv");
  ASSERT_EQ(layout.fields[0].type, adVarWChar);
  ASSERT_TRUE(layout.fields[0].non_numeric.has_value());
  EXPECT_EQ(layout.fields[0].non_numeric->first_line, line);
  EXPECT_EQ(layout.fields[0].non_numeric->count, 1);
  EXPECT_EQ(layout.fields[0].non_numeric->values, rows);
  EXPECT_EQ(layout.fields[1].type, adInteger);
}

}  // namespace
}  // namespace qeldata
